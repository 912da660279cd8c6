#include "output/run_files.h"

#include "support/atomic_file.h"

#include <QRegularExpression>

const QString video_file_name = QStringLiteral("output_video.mp4");
const QString boomerang_file_name = QStringLiteral("output_video_boomerang.mp4");
const QString gif_file_name = QStringLiteral("output_video.gif");
const QString boomerang_gif_file_name = QStringLiteral("output_video_boomerang.gif");
const QString still_file_name = QStringLiteral("output_still.jpg");
const QString staging_folder_name = QStringLiteral(".output_run.partial");
const QString run_lock_file_name = QStringLiteral(".output_run.lock");

QString frame_file_name(int index)
{
    return QStringLiteral("output_img_%1.jpg").arg(index);
}

std::optional<int> frame_index(const QString& name)
{
    // Only what frame_file_name writes: no sign, no leading zero, no other case.
    static const QRegularExpression pattern(
        QStringLiteral("^output_img_(0|[1-9][0-9]{0,8})\\.jpg$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    return match.captured(1).toInt();
}

QStringList video_file_names()
{
    return {video_file_name, boomerang_file_name, gif_file_name, boomerang_gif_file_name,
            still_file_name};
}

bool is_run_file(const QString& name)
{
    return frame_index(name).has_value() || video_file_names().contains(name);
}

bool is_partial_video(const QString& name)
{
    for (const QString& video : video_file_names())
        if (name == partial_file_name(video))
            return true;
    return false;
}

bool is_run_leftover(const QString& name)
{
    if (is_partial_video(name))
        return true;
    // QSaveFile's temporary name: the final name and six random characters.
    static const QRegularExpression saved(QStringLiteral("^(.+)\\.[A-Za-z0-9]{6}$"));
    const QRegularExpressionMatch match = saved.match(name);
    return match.hasMatch() && is_run_file(match.captured(1));
}
