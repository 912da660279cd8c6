#pragma once

#include <QByteArray>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

// One ffmpeg invocation: the words handed to the program, no shell involved.
struct FfmpegCommand
{
    QString program = QStringLiteral("ffmpeg");
    QStringList arguments;
    // The file the command writes (also the last argument).
    QString output_file;

    // The invocation as one readable line, for the diagnostic output.
    QString display_line() const;
};

// What the encodes of one run share: the frame rate, the size of the frames on
// disk and the size they are encoded at (the frames' own size: no scaling).
struct EncodeSettings
{
    int fps = 24;
    QSize frame_size;
    QSize output_size;
    // The part of the frames on disk the pictures show (see clip_rect), cut
    // before the scaling; empty for the whole frame. Raw input is already cut.
    QRect clip{};
    // The PNG laid over every picture after the scaling (an absolute path) and
    // where, in output pixels; none when the file is empty.
    QString overlay_file{};
    QRect overlay_rect{};
};

// How many times the JPEG decoder may halve the frames while still giving at
// least `output` on both sides (ffmpeg's "-lowres", 0 to 3). Halving inside the
// decoder skips most of its work and differs from a full decode followed by the
// same scaling by far less than the video encoder's own loss.
int decoder_halvings(QSize frames, QSize output);

// "<folder>/output_img_%d.jpg" as ffmpeg's image2 reader takes it: a '%' of the
// folder is doubled so that it reads as itself.
QString frame_pattern(const QString& folder);

// Encodes the first `frame_count` frames numbered from 0 that `pattern` names into
// the H.264 MP4 `output`. For 24 fps, 900 x 652 frames scaled to 400 x 290:
//   ffmpeg -r 24 -f image2 -s 900x652 -lowres 1 -i /data/run1/output_img_%d.jpg
//          -vf scale=400:290:flags=lanczos,setsar=1 -vcodec libx264 -crf 25
//          -pix_fmt yuv420p -movflags +faststart -frames:v 12 -y /data/run1/output_video.mp4
// Without scaling there is no -vf, and -lowres only where decoder_halvings allows. "-frames:v"
// keeps frames of an earlier, longer run in the same folder out of the video, "-y" replaces an
// older file, and
// "+faststart" puts the index first so that a player can start before the end
// of the file has arrived.
//
// With `scaled_copies` (an image2 pattern numbered from 0) and scaling, the same
// command also keeps each scaled frame, exactly as the encoder receives it, as a
// raw yuv420p file: a boomerang's backward half is then encoded from those
// (scaled_copies_mp4_command) without decoding and scaling the frames again.
FfmpegCommand mp4_command(const EncodeSettings& settings, const QString& pattern, int frame_count,
                          const QString& output, const QString& scaled_copies = {});

// Encodes the raw scaled frames that `pattern` names, kept by mp4_command, with the
// same settings and stream description into the H.264 MP4 `output`.
FfmpegCommand scaled_copies_mp4_command(const EncodeSettings& settings, const QString& pattern,
                                        int frame_count, const QString& output);

// Encodes `frame_count` raw yuv420p pictures of the output size, written one
// after the other to the program's standard input, with the video's settings
// and the colour description of the videos encoded from the frame files into
// the H.264 MP4 `output`. For 24 fps at 400 x 290:
//   ffmpeg -f rawvideo -pixel_format yuv420p -video_size 400x290 -framerate 24 -i -
//          -vf setsar=1 -color_range tv -colorspace bt470bg -chroma_sample_location center
//          -vcodec libx264 -crf 25 -pix_fmt yuv420p -movflags +faststart -frames:v 12
//          -y /data/run1/output_video.mp4
FfmpegCommand raw_mp4_command(const EncodeSettings& settings, int frame_count,
                              const QString& output);

// Joins the MP4 files that the ffconcat `list` names, stream copied, into `output`:
//   ffmpeg -f concat -i LIST -c copy -movflags +faststart -y OUTPUT
FfmpegCommand join_command(const QString& list, const QString& output);

// The animated GIF of the first `frame_count` frames of `pattern`, with a palette
// computed from those frames, looping forever. For 24 fps and 900 x 652 frames:
//   ffmpeg -r 24 -f image2 -s 900x652 -i /data/run1/output_img_%d.jpg
//          -vf
//          'scale=800:580:flags=lanczos,setsar=1,showinfo,split[a][b];[a]palettegen[p];[b][p]paletteuse'
//          -loop 0 -frames:v 12 -y /data/run1/output_video.gif
// GIF delays are whole hundredths of a second and players stretch delays under 2
// to a tenth of a second, so the frame rate is capped at gif_max_fps. "showinfo"
// reports each frame on its way to the palette (see filtered_frames): nothing is
// encoded before the palette is complete.
constexpr int gif_max_fps = 50;
FfmpegCommand gif_command(const EncodeSettings& settings, const QString& pattern, int frame_count,
                          const QString& output);

// gif_command for `frame_count` raw bgr24 pictures of the output size written to
// standard input, at the GIF's frame rate. For 24 fps at 800 x 580:
//   ffmpeg -f rawvideo -pixel_format bgr24 -video_size 800x580 -framerate 24 -i -
//          -vf 'showinfo,split[a][b];[a]palettegen[p];[b][p]paletteuse'
//          -loop 0 -frames:v 12 -y /data/run1/output_video.gif
FfmpegCommand raw_gif_command(const EncodeSettings& settings, int frame_count,
                              const QString& output);

// Both GIFs of a boomerang in one pass over `boomerang_frames` raw bgr24 pictures
// written to standard input in the boomerang GIF's order, whose first
// `forward_frames` are the forward GIF's: one palette, computed from every
// picture, serves both, and the forward GIF is the boomerang GIF's first
// pictures. For 24 fps at 800 x 580, 12 frames:
//   ffmpeg -f rawvideo -pixel_format bgr24 -video_size 800x580 -framerate 24 -i -
//          -filter_complex 'showinfo,split[a][b];[a]palettegen[p];[b][p]paletteuse,
//          split[there_and_back][forward];[forward]trim=end_frame=12[gif]'
//          -map '[gif]' -loop 0 -frames:v 12 -y /data/run1/output_video.gif
//          -map '[there_and_back]' -loop 0 -frames:v 24 -y /data/run1/output_video_boomerang.gif
FfmpegCommand raw_gifs_command(const EncodeSettings& settings, int forward_frames,
                               int boomerang_frames, const QString& forward_output,
                               const QString& boomerang_output);

// The still of one frame file, cut and overlaid as the videos are, at the
// output size (the cut's own size: no scaling), as the JPEG `output`:
//   ffmpeg -f image2 -pattern_type none -i /data/run1/output_img_5.jpg
//          -vf crop=364:648:268:0 -q:v 2 -frames:v 1 -update 1 -y /data/run1/output_still.jpg
FfmpegCommand still_command(const EncodeSettings& settings, const QString& frame,
                            const QString& output);

// An ffconcat list playing `files` one after the other, file k lasting
// `frame_counts[k]` frames at `fps`. The names are taken relative to the list's
// own folder and must be plain (letters, digits, '_', '-', '.'), which ffmpeg's
// safe mode accepts without quoting.
QByteArray concat_list(const QStringList& files, const std::vector<int>& frame_counts, int fps);

// The number of frames an ffmpeg progress line ("frame=  123 fps=...") reports
// encoded, or -1.
int encoded_frames(const QString& line);

// The number of frames that have passed the showinfo filter, from its line for
// one frame ("[Parsed_showinfo_1 @ 0x55d0] n:  11 pts: ..." reports 12), or -1.
int filtered_frames(const QString& line);
