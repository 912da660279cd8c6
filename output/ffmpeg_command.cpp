#include "output/ffmpeg_command.h"

#include "output/run_files.h"

#include <algorithm>

namespace {

QString size_text(QSize size)
{
    return QString::number(size.width()) + "x" + QString::number(size.height());
}

bool cuts(const EncodeSettings& settings)
{
    return !settings.clip.isEmpty() && settings.clip != QRect(QPoint(0, 0), settings.frame_size);
}

// The size of the pictures before the scaling.
QSize shown_size(const EncodeSettings& settings)
{
    return cuts(settings) ? settings.clip.size() : settings.frame_size;
}

// The numbered frames at the run's rate, as image2 reads them, decoded no larger
// than the output needs.
QStringList frame_input(int fps, const EncodeSettings& settings, const QString& pattern)
{
    QStringList words{"-r", QString::number(fps),          "-f", "image2",
                      "-s", size_text(settings.frame_size)};
    // A halved decode would move the cut's pixels: a cut frame is decoded whole.
    const int halvings =
        cuts(settings) ? 0 : decoder_halvings(settings.frame_size, settings.output_size);
    if (halvings > 0)
        words << "-lowres" << QString::number(halvings);
    return words << "-i" << pattern;
}

// Lanczos keeps the detail a photographer expects of a downscale; the sides were
// rounded to even numbers, so the pixels are declared square again.
QString scale_filter(QSize size)
{
    return QString("scale=%1:%2:flags=lanczos,setsar=1").arg(size.width()).arg(size.height());
}

// The cut and the scaling of frames read from disk, or an empty string.
QString cut_and_scale(const EncodeSettings& settings)
{
    QStringList filters;
    if (cuts(settings)) {
        const QRect& clip = settings.clip;
        filters << QString("crop=%1:%2:%3:%4")
                       .arg(clip.width())
                       .arg(clip.height())
                       .arg(clip.x())
                       .arg(clip.y());
    }
    if (settings.output_size != shown_size(settings))
        filters << scale_filter(settings.output_size);
    return filters.join(',');
}

// The overlay's picture as the second input: its name is taken as it is, even
// with a '%', and its content is read as a PNG whatever the name ends with.
QStringList overlay_input(const EncodeSettings& settings)
{
    if (settings.overlay_file.isEmpty())
        return {};
    return {"-f", "image2", "-pattern_type", "none", "-c:v", "png", "-i", settings.overlay_file};
}

// The filters of the pictures: `chain` (may be empty), then the overlay blended
// in `blend` pixels (ffmpeg's overlay format, empty for its default), then
// `tail` (may be empty). Without an overlay a plain "-vf" chain, unless `graph`.
QStringList picture_filters(const EncodeSettings& settings, const QString& chain,
                            const QString& tail, const QString& blend = {}, bool graph = false)
{
    if (settings.overlay_file.isEmpty()) {
        QStringList parts;
        if (!chain.isEmpty())
            parts << chain;
        if (!tail.isEmpty())
            parts << tail;
        if (parts.isEmpty())
            return {};
        return {graph ? "-filter_complex" : "-vf", parts.join(',')};
    }
    const QRect& at = settings.overlay_rect;
    QString filters = "[0:v]" + (chain.isEmpty() ? QStringLiteral("null") : chain) +
                      "[picture];[1:v]" +
                      QString("scale=%1:%2:flags=lanczos").arg(at.width()).arg(at.height()) +
                      "[overlay];[picture][overlay]" +
                      QString("overlay=%1:%2").arg(at.x()).arg(at.y()) +
                      (blend.isEmpty() ? QString() : ":format=" + blend);
    if (!tail.isEmpty())
        filters += "," + tail;
    return {"-filter_complex", filters};
}

// The words end with "-y" and the output file, where `output_file` is taken from.
FfmpegCommand command_of(const QStringList& arguments)
{
    FfmpegCommand command;
    command.arguments = arguments;
    command.output_file = arguments.back();
    return command;
}

// The video's encoder settings, shared by both halves of a boomerang.
QStringList h264_output(int frame_count, const QString& output)
{
    return {"-vcodec", "libx264",   "-crf",       "25",        "-pix_fmt",
            "yuv420p", "-movflags", "+faststart", "-frames:v", QString::number(frame_count),
            "-y",      output};
}

// The colour description the JPEG decoder gives the scaled frames, written out
// where a stream is encoded next to one made from the scaled copies: a join keeps
// the first stream's headers only, so both must describe their pixels alike.
const QStringList jpeg_colours{
    "-color_range", "tv", "-colorspace", "bt470bg", "-chroma_sample_location", "center"};

// Pictures of the output size read raw from standard input.
QStringList raw_input(int fps, QSize size, const QString& layout)
{
    return {"-f",          "rawvideo",      "-pixel_format", layout, "-video_size",
            size_text(size), "-framerate", QString::number(fps), "-i",   "-"};
}

const QString gif_filters = QStringLiteral("showinfo,split[a][b];[a]palettegen[p];[b][p]paletteuse");

// Reads the decimal number that starts at `at` in `line` after any blanks, or -1.
int number_at(const QString& line, int at)
{
    while (at < line.size() && line[at] == ' ')
        ++at;
    int digits = 0;
    long long value = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at, ++digits) {
        value = 10 * value + (line[at].unicode() - '0');
        if (value > 1000000000)
            return -1;
    }
    return digits > 0 ? static_cast<int>(value) : -1;
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

int decoder_halvings(QSize frames, QSize output)
{
    int halvings = 0;
    while (!output.isEmpty() && halvings < 3 &&
           frames.width() >> (halvings + 1) >= output.width() &&
           frames.height() >> (halvings + 1) >= output.height())
        ++halvings;
    return halvings;
}

QString frame_pattern(const QString& folder)
{
    // frame_file_name with the index left to the image2 reader.
    return QString(folder).replace('%', "%%") + "/" +
           frame_file_name(0).replace(QLatin1String("_0."), QLatin1String("_%d."));
}

FfmpegCommand mp4_command(const EncodeSettings& settings, const QString& pattern, int frame_count,
                          const QString& output, const QString& scaled_copies)
{
    QStringList arguments = frame_input(settings.fps, settings, pattern) + overlay_input(settings);
    const QString chain = cut_and_scale(settings);
    if (settings.output_size == shown_size(settings) || scaled_copies.isEmpty())
        return command_of(arguments << picture_filters(settings, chain, {})
                                    << h264_output(frame_count, output));
    // The copies come first so that the video is the last word, as for every command.
    arguments << picture_filters(settings, chain, "split[copies][video]", {}, true) << "-map"
              << "[copies]"
              << "-c:v"
              << "rawvideo"
              << "-pix_fmt"
              << "yuv420p"
              << "-f"
              << "image2"
              << "-start_number"
              << "0"
              << "-frames:v" << QString::number(frame_count) << "-y" << scaled_copies << "-map"
              << "[video]" << jpeg_colours;
    return command_of(arguments << h264_output(frame_count, output));
}

FfmpegCommand scaled_copies_mp4_command(const EncodeSettings& settings, const QString& pattern,
                                        int frame_count, const QString& output)
{
    const QStringList arguments{"-r",
                                QString::number(settings.fps),
                                "-f",
                                "image2",
                                "-c:v",
                                "rawvideo",
                                "-pixel_format",
                                "yuv420p",
                                "-video_size",
                                size_text(settings.output_size),
                                "-i",
                                pattern,
                                "-vf",
                                "setsar=1"};
    return command_of(arguments + jpeg_colours + h264_output(frame_count, output));
}

FfmpegCommand raw_mp4_command(const EncodeSettings& settings, int frame_count,
                              const QString& output)
{
    QStringList arguments =
        raw_input(settings.fps, settings.output_size, "yuv420p") + overlay_input(settings);
    arguments << picture_filters(settings, "setsar=1", {}) << jpeg_colours;
    return command_of(arguments << h264_output(frame_count, output));
}

FfmpegCommand join_command(const QString& list, const QString& output)
{
    return command_of(
        {"-f", "concat", "-i", list, "-c", "copy", "-movflags", "+faststart", "-y", output});
}

QByteArray concat_list(const QStringList& files, const std::vector<int>& frame_counts, int fps)
{
    // Each file's length is given rather than read from it: the reader would
    // otherwise include the encoder's start delay and leave a gap at each join.
    // ffmpeg reads the length in microseconds.
    QByteArray list = "ffconcat version 1.0\n";
    for (int k = 0; k < files.size(); ++k) {
        const int frames = k < int(frame_counts.size()) ? frame_counts[k] : 0;
        list += "file " + files[k].toUtf8() + "\nduration " +
                QByteArray::number(double(frames) / fps, 'f', 6) + "\n";
    }
    return list;
}

FfmpegCommand still_command(const EncodeSettings& settings, const QString& frame,
                            const QString& output)
{
    QStringList arguments{"-f", "image2", "-pattern_type", "none", "-i", frame};
    arguments << overlay_input(settings)
              << picture_filters(settings, cut_and_scale(settings), {}, "rgb")
              << "-q:v"
              << "2"
              << "-frames:v"
              << "1"
              << "-update"
              << "1"
              << "-y" << output;
    return command_of(arguments);
}

FfmpegCommand gif_command(const EncodeSettings& settings, const QString& pattern, int frame_count,
                          const QString& output)
{
    // The overlay is blended before the palette is made, so its colours are in it.
    QStringList arguments = frame_input(std::min(settings.fps, gif_max_fps), settings, pattern) +
                            overlay_input(settings);
    arguments << picture_filters(settings, cut_and_scale(settings), gif_filters, "rgb") << "-loop"
              << "0"
              << "-frames:v" << QString::number(frame_count) << "-y" << output;
    return command_of(arguments);
}

FfmpegCommand raw_gif_command(const EncodeSettings& settings, int frame_count,
                              const QString& output)
{
    QStringList arguments =
        raw_input(std::min(settings.fps, gif_max_fps), settings.output_size, "bgr24") +
        overlay_input(settings);
    arguments << picture_filters(settings, {}, gif_filters, "rgb") << "-loop"
              << "0"
              << "-frames:v" << QString::number(frame_count) << "-y" << output;
    return command_of(arguments);
}

FfmpegCommand raw_gifs_command(const EncodeSettings& settings, int forward_frames,
                               int boomerang_frames, const QString& forward_output,
                               const QString& boomerang_output)
{
    // The dithering maps each picture on its own, so the forward GIF's pictures
    // are the boomerang GIF's first ones: they are mapped once.
    const QString filters = gif_filters + ",split[there_and_back][forward];[forward]trim=end_frame=" +
                            QString::number(forward_frames) + "[gif]";
    QStringList arguments =
        raw_input(std::min(settings.fps, gif_max_fps), settings.output_size, "bgr24") +
        overlay_input(settings);
    arguments << picture_filters(settings, {}, filters, "rgb", true) << "-map"
              << "[gif]"
              << "-loop"
              << "0"
              << "-frames:v" << QString::number(forward_frames) << "-y" << forward_output << "-map"
              << "[there_and_back]"
              << "-loop"
              << "0"
              << "-frames:v" << QString::number(boomerang_frames) << "-y" << boomerang_output;
    return command_of(arguments);
}

int encoded_frames(const QString& line)
{
    const QString prefix = QStringLiteral("frame=");
    return line.startsWith(prefix) ? number_at(line, prefix.size()) : -1;
}

int filtered_frames(const QString& line)
{
    if (!line.startsWith(QStringLiteral("[Parsed_showinfo_")))
        return -1;
    const int at = line.indexOf(QStringLiteral("] n:"));
    const int index = at < 0 ? -1 : number_at(line, at + 4);
    return index < 0 ? -1 : index + 1;
}
