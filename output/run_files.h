#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The names of every file a processing run writes into its output folder, and
// nothing wider: whatever else stands in the folder belongs to the user, and a
// later run or the booth may remove only what these name.

// "output_img_<index>.jpg", the frame of camera `index` (counted from 0).
QString frame_file_name(int index);

// The camera index of a frame name written by frame_file_name, exactly
// ("output_img_7.jpg" gives 7; "output_img_07.jpg", "output_img_cover.jpg" and
// "output_img_7.JPG" give nothing).
std::optional<int> frame_index(const QString& name);

// The videos and GIFs a run may write, in the order a run makes them.
extern const QString video_file_name;         // "output_video.mp4"
extern const QString boomerang_file_name;     // "output_video_boomerang.mp4"
extern const QString gif_file_name;           // "output_video.gif"
extern const QString boomerang_gif_file_name; // "output_video_boomerang.gif"
extern const QString still_file_name;         // "output_still.jpg"
// The names above (the still among them: a run writes and replaces it alike).
QStringList video_file_names();

// The hidden folder inside the output folder where a run writes all its files
// before they replace an earlier run's: ".output_run.partial".
extern const QString staging_folder_name;

// The lock a run holds on its output folder while it runs, ".output_run.lock":
// a second run into the same folder would clear the first one's staged files.
// One left by a run that was killed holds nothing, and the next run takes it.
extern const QString run_lock_file_name;

// True for a name a run delivers: a frame or one of the videos.
bool is_run_file(const QString& name);

// True for a file a run killed before it finished may leave: a video's
// partial_file_name, or a frame's or video's name followed by the six random
// characters of the temporary file write_file_atomically renames.
bool is_run_leftover(const QString& name);

// True for a video's partial_file_name only: the one leftover whose exact name
// a run writes. Outside the staging folder, a name with six characters after
// a run's ("output_video.mp4.backup") may well be the user's.
bool is_partial_video(const QString& name);
