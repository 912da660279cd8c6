#include "cli/serve_command.h"

#include "booth/booth.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/stop_signals.h"
#include "output/run_files.h"

#include <QFileInfo>

#include <iostream>

namespace {

const QString command = QStringLiteral("serve");

QString help()
{
    return QStringLiteral(
        "Utilisation : quorvane serve RACINE [--listen ADRESSE:PORT] [--title TEXTE] [--frames]\n"
        "\n"
        "Page de partage sur le réseau de la borne : les invités scannent le code QR de\n"
        "leur prise et récupèrent la vidéo sur leur téléphone, sans internet.\n"
        "  /              les prises terminées de RACINE (celles qui ont leur fichier\n"
        "                 .termine), la plus récente d'abord, mise à jour toute seule ;\n"
        "                 touchez une prise pour afficher son code QR en grand\n"
        "  /take/PRISE    la vidéo, le GIF et la photo de la prise, à télécharger, et\n"
        "                 son code QR\n"
        "Seuls les fichiers d'une prise terminée sont servis, par leur nom exact ; aucun\n"
        "lien symbolique n'est suivi. Une ligne par requête sur la sortie standard.\n"
        "S'arrête proprement sur SIGINT ou SIGTERM.\n"
        "\n"
        "Options :\n"
        "  --listen ADRESSE:PORT  adresse d'écoute (par défaut toutes les interfaces,\n"
        "                         port 8080) : 192.168.4.1:8080, [::1]:8080, :8080\n"
        "  --title TEXTE          titre en haut des pages (« Vos vidéos »)\n"
        "  --frames               propose aussi chaque image de la prise\n"
        "  -h, --help             affiche cette aide\n"
        "\n"
        "Statut de sortie : 0 arrêté proprement ; 1 RACINE introuvable ou adresse\n"
        "occupée ; 2 mauvaise utilisation.\n");
}

} // namespace

TakeFileRules booth_take_file_rules(bool all_frames)
{
    TakeFileRules rules;
    rules.done_marker = take_done_marker;
    rules.video = video_file_name;
    rules.boomerang = boomerang_file_name;
    rules.gif = gif_file_name;
    rules.boomerang_gif = boomerang_gif_file_name;
    rules.frame_index = [](const QString& name) { return frame_index(name); };
    rules.all_frames = all_frames;
    return rules;
}

QString default_share_title()
{
    return QStringLiteral("Vos vidéos");
}

QString read_listen_value(const QString& option, const QString& value, ListenAddress& address)
{
    const std::optional<ListenAddress> parsed = parse_listen_address(value);
    if (!parsed)
        return QStringLiteral("--%1 attend ADRESSE:PORT (par exemple 192.168.4.1:8080 ou :8080), "
                              "pas « %2 »")
            .arg(option, value);
    address = *parsed;
    return {};
}

ParseOutcome parse_serve_arguments(const QStringList& arguments, ServeArguments& parsed)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("listen"), QString(), QStringLiteral("ADRESSE:PORT")});
    parser.addOption({QStringLiteral("title"), QString(), QStringLiteral("TEXTE")});
    parser.addOption({QStringLiteral("frames"), QString()});
    const ParseOutcome outcome = parse_options(parser, arguments);
    if (!outcome.runs())
        return outcome;
    ShareSettings& settings = parsed.settings;
    const QStringList roots = parser.positionalArguments();
    if (roots.size() != 1)
        return usage_problem(QStringLiteral("il faut un seul dossier RACINE"));
    settings.root = path_argument(roots.front());
    if (parser.isSet(QStringLiteral("listen"))) {
        const QString error = read_listen_value(QStringLiteral("listen"),
                                                parser.value(QStringLiteral("listen")),
                                                settings.listen);
        if (!error.isEmpty())
            return usage_problem(error);
    }
    settings.title = parser.isSet(QStringLiteral("title")) ? parser.value(QStringLiteral("title"))
                                                           : default_share_title();
    settings.rules = booth_take_file_rules(parser.isSet(QStringLiteral("frames")));
    return outcome;
}

bool start_sharing(ShareServer& server, const ShareSettings& settings)
{
    const QString problem = server.start();
    const QString address = url_authority(
        settings.listen.host.isEmpty() ? QStringLiteral("0.0.0.0") : settings.listen.host,
        settings.listen.port);
    if (!problem.isEmpty()) {
        print_error(QStringLiteral("impossible de servir sur %1 (%2)").arg(address, problem));
        return false;
    }
    const QString actual = url_authority(
        settings.listen.host.isEmpty() ? QStringLiteral("0.0.0.0") : settings.listen.host,
        server.port());
    std::cout << "Serving " << settings.root.toStdString() << " on http://"
              << actual.toStdString() << "/" << std::endl;
    return true;
}

int run_serve_command(const QStringList& arguments)
{
    ServeArguments parsed;
    const ParseOutcome parse = parse_serve_arguments(arguments, parsed);
    if (!parse.runs())
        return end_parsed(parse, command, help());
    const ShareSettings& settings = parsed.settings;
    if (!QFileInfo(settings.root).isDir()) {
        print_error(QStringLiteral("'%1' : dossier introuvable").arg(settings.root));
        return ExitFailed;
    }
    StopSignals stop_signals;
    ShareServer server(settings, stdout);
    if (!start_sharing(server, settings))
        return ExitFailed;
    while (!stop_signals.wait_for_stop(60000)) {
    }
    server.stop();
    std::cout << "Stopped serving" << std::endl;
    return ExitDone;
}
