#include "cli/console.h"

#include "photo/photo_problem.h"
#include "pipeline/photo_check.h"

#include <iostream>

void print_error(const QString& message)
{
    std::cerr << "quorvane : " << message.toUtf8().constData() << std::endl;
}

void print_text(const QString& text)
{
    std::cout << text.toUtf8().constData() << std::flush;
}

void print_unusable_photo(const QString& path, int camera, const QString& reason)
{
    print_error(QStringLiteral("'%1' (caméra %2) : %3").arg(path, QString::number(camera + 1), reason));
}

bool report_unusable_photos(const QStringList& paths, bool decode)
{
    bool usable = true;
    for (int camera = 0; camera < paths.size(); ++camera) {
        const QString& path = paths[camera];
        const QString problem = photo_problem(path, decode);
        if (!problem.isEmpty()) {
            print_unusable_photo(path, camera, problem);
            usable = false;
        }
    }
    return usable;
}
