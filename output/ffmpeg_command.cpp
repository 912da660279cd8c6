#include "output/ffmpeg_command.h"

#include <algorithm>
#include <vector>

namespace {

// One word of a command; `quoted` words are the ones the classic line wraps in
// double quotes.
struct Word
{
    QString text;
    bool quoted = false;
};

QString video_path(const QString& folder)
{
    return folder + "/output_video.mp4";
}

// ffmpeg expands '%' in an image2 input name, so a literal one is doubled.
QString frame_pattern(const QString& folder)
{
    return QString(folder).replace('%', "%%") + "/output_img_%d.jpg";
}

std::vector<Word> video_words(int fps, QSize size, const QString& folder)
{
    return {{"-r"},
            {QString::number(fps)},
            {"-f"},
            {"image2"},
            {"-s"},
            {QString::number(size.width()) + "x" + QString::number(size.height())},
            {"-i"},
            {frame_pattern(folder), true},
            {"-vcodec"},
            {"libx264"},
            {"-crf"},
            {"25"},
            {"-pix_fmt"},
            {"yuv420p"},
            {video_path(folder), true}};
}

std::vector<Word> boomerang_words(const QString& folder)
{
    return {{"-i"},
            {video_path(folder), true},
            {"-filter_complex"},
            {"[0:v]reverse,fifo[r];[0:v][r] concat=n=2:v=1 [v]", true},
            {"-map"},
            {"[v]", true},
            {folder + "/output_video_boomerang.mp4", true}};
}

QString classic_line(const std::vector<Word>& words)
{
    QString line = "ffmpeg";
    for (const Word& word : words)
        line += word.quoted ? " \"" + word.text + "\"" : " " + word.text;
    return line;
}

// The words with `extra` inserted before the last one, the output file.
FfmpegCommand command_from(const std::vector<Word>& words, const QStringList& extra)
{
    FfmpegCommand command;
    for (const Word& word : words)
        command.arguments << word.text;
    command.output_file = command.arguments.takeLast();
    command.arguments << extra << command.output_file;
    return command;
}

bool is_plain(QChar c)
{
    if (c.unicode() >= 0x80)
        return c.isLetterOrNumber();
    return c.isLetterOrNumber() || QStringLiteral("%+,-./:=@_").contains(c);
}

// Single quotes as a POSIX shell reads them: only a quote itself needs care.
QString shell_quoted(const QString& word)
{
    if (!word.isEmpty() && std::all_of(word.begin(), word.end(), is_plain))
        return word;
    return "'" + QString(word).replace("'", "'\\''") + "'";
}

} // namespace

QString FfmpegCommand::display_line() const
{
    QStringList words{shell_quoted(program)};
    for (const QString& argument : arguments)
        words << shell_quoted(argument);
    return words.join(' ');
}

QString video_command_line(int fps, QSize size, const QString& folder)
{
    return classic_line(video_words(fps, size, folder));
}

QString boomerang_command_line(const QString& folder)
{
    return classic_line(boomerang_words(folder));
}

FfmpegCommand video_command(int fps, QSize size, const QString& folder, int frame_count)
{
    return command_from(video_words(fps, size, folder),
                        {"-frames:v", QString::number(frame_count), "-y"});
}

FfmpegCommand boomerang_command(const QString& folder)
{
    return command_from(boomerang_words(folder), {"-y"});
}
