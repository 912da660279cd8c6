#include "calibration/calibration_construction.h"

#include "calibration/alignment.h"
#include "calibration/drift_check.h"
#include "detection/sticker_triple.h"

#include <opencv2/core/utility.hpp>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// One reference photo once a worker has found its components, with the lines
// finding them wrote (an unreadable file), held back until the photo's turn.
struct FoundPhoto
{
    bool found = false;
    StickerComponents components;
    std::string log;
};

enum class Selection
{
    Pending,
    Succeeded,
    Failed
};

// The work shared by the threads of one construction. Workers take photos in
// order: the middle one first, because nothing can be aligned before its stickers
// are the reference, then the others in list order. Whoever stores a photo
// writes every photo whose turn has come, under the lock, so `log` sees the
// photo-by-photo sequence. Identification and alignment cost microseconds; the
// reading and thresholding run outside the lock.
class Construction
{
public:
    Construction(const QStringList& paths, const StickerMatch& match, ReferenceTriple& reference,
                 std::ostream& log, BatchProgress* progress)
        : paths(paths), match(match), reference(reference), log(log), progress(progress),
          calibration(Calibration::with_count(paths.size())), photos(paths.size()),
          sizes(paths.size()), stickers(paths.size()), middle(paths.size() / 2)
    {
    }

    // One worker: takes photos until none are left, a stop is requested or the
    // selection has failed. Its buffers serve photo after photo.
    void work()
    {
        ComponentScratch scratch;
        while (!stopping()) {
            const int taken = next.fetch_add(1);
            if (taken >= photo_count())
                return;
            const int index = taken == 0 ? middle : (taken <= middle ? taken - 1 : taken);
            std::ostringstream photo_log;
            StickerComponents components =
                find_sticker_components(paths[index], match, photo_log, scratch);

            const std::lock_guard<std::mutex> lock(mutex);
            photos[index] = {true, std::move(components), photo_log.str()};
            write_ready_photos();
        }
    }

    // After every worker has returned: photos left behind by a stop (taken after
    // one that was never taken) are written in list order, then the record.
    Calibration finish()
    {
        finish_photos();
        return std::move(calibration);
    }

    // The same, with what the construction learnt about each photo.
    RigCalibration finish_rig(StickerColor color)
    {
        finish_photos();
        RigCalibration rig;
        rig.sticker_color = color;
        rig.learned_colour = match.learned;
        rig.reference_stickers = reference.points;
        for (int i = 0; i < photo_count(); ++i) {
            CameraCalibration camera;
            camera.reference_photo = paths[i];
            camera.reference_size = sizes[i];
            if (calibration.aligned[i]) {
                camera.method = AlignmentMethod::Automatic;
                camera.transform = calibration.alignment(i);
                camera.stickers = stickers[i];
            }
            rig.cameras.push_back(camera);
        }
        return rig;
    }

private:
    void finish_photos()
    {
        if (selection == Selection::Succeeded) {
            for (int i = written; i < photo_count(); ++i) {
                if (photos[i].found)
                    write_photo(i);
            }
        }
    }

    int photo_count() const { return static_cast<int>(photos.size()); }

    bool stopping() const
    {
        return selection_failed.load() || (progress && progress->stop_requested());
    }

    // Under the lock.
    void write_ready_photos()
    {
        if (selection == Selection::Pending) {
            if (!photos[middle].found)
                return;
            log << photos[middle].log << std::flush;
            const bool selected = select_reference(photos[middle].components, reference, log);
            selection = selected ? Selection::Succeeded : Selection::Failed;
            if (!selected) {
                selection_failed.store(true);
                if (progress)
                    progress->image_done();
                return;
            }
        }
        if (selection != Selection::Succeeded)
            return;
        while (written < photo_count() && photos[written].found)
            write_photo(written++);
    }

    // Under the lock, or on the calling thread once the workers are gone.
    void write_photo(int index)
    {
        FoundPhoto& photo = photos[index];
        log << photo.log << std::flush;
        if (photo.components.image_width > 0)
            sizes[index] = QSize(photo.components.image_width, photo.components.image_height);
        if (const auto found =
                detect_stickers(calibration, photo.components, index, reference, log))
            stickers[index] = *found;
        photo.components = {};
        if (progress)
            progress->image_done();
    }

    const QStringList& paths;
    const StickerMatch match;
    ReferenceTriple& reference;
    std::ostream& log;
    BatchProgress* const progress;

    std::atomic<int> next{0};
    std::atomic<bool> selection_failed{false};

    std::mutex mutex;
    // Guarded by `mutex` while workers run.
    Calibration calibration;
    std::vector<FoundPhoto> photos;
    std::vector<QSize> sizes;
    std::vector<std::array<cv::Point2d, 3>> stickers;
    const int middle;
    Selection selection = Selection::Pending;
    int written = 0; // photos before this index have been written
};

} // namespace

std::optional<std::array<cv::Point2d, 3>> detect_stickers(Calibration& calibration,
                                                          const QString& path, int image_index,
                                                          const StickerMatch& match,
                                                          const ReferenceTriple& reference,
                                                          std::ostream& log)
{
    return detect_stickers(calibration, find_sticker_components(path, match, log), image_index,
                           reference, log);
}

std::optional<std::array<cv::Point2d, 3>>
detect_stickers(Calibration& calibration, const StickerComponents& components, int image_index,
                const ReferenceTriple& reference, std::ostream& log)
{
    const std::optional<IdentifiedTriple> identified = identify_sticker_triple(components, log);
    if (!identified)
        return std::nullopt;

    const StickerTriple& triple = identified->triple;
    if (identified->rule == SelectionRule::CentreRule) {
        log << "test image newcentroids :" << std::endl;
        for (int index : triple.indices) {
            log << "x = " << triple.centres[index].x << " y = " << triple.centres[index].y
                << std::endl;
        }
    }
    estimate_alignment(calibration, image_index, triple.indices, triple.centres, reference, log);
    return std::array<cv::Point2d, 3>{triple.centres[triple.indices[0]],
                                      triple.centres[triple.indices[1]],
                                      triple.centres[triple.indices[2]]};
}

namespace {

void run(Construction& construction, const QStringList& reference_paths)
{
    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const int workers = std::min(cores, static_cast<int>(reference_paths.size()));
    // The calling thread is one of the workers.
    std::vector<std::thread> helpers;
    for (int w = 1; w < workers; ++w)
        helpers.emplace_back([&construction] { construction.work(); });
    construction.work();
    for (std::thread& helper : helpers)
        helper.join();
}

} // namespace

Calibration construct_calibration(const QStringList& reference_paths, const StickerMatch& match,
                                  ReferenceTriple& reference, std::ostream& log,
                                  BatchProgress* progress)
{
    if (reference_paths.isEmpty()) {
        select_reference(reference_paths, match, reference, log);
        return Calibration::with_count(0);
    }
    Construction construction(reference_paths, match, reference, log, progress);
    run(construction, reference_paths);
    return construction.finish();
}

RigCalibration construct_rig_calibration(const QStringList& reference_paths, StickerColor color,
                                         ReferenceTriple& reference, std::ostream& log,
                                         BatchProgress* progress)
{
    return construct_rig_calibration(reference_paths, color, std::nullopt, reference, log,
                                     progress);
}

RigCalibration construct_rig_calibration(const QStringList& reference_paths, StickerColor color,
                                         const std::optional<LearnedColour>& learned,
                                         ReferenceTriple& reference, std::ostream& log,
                                         BatchProgress* progress)
{
    const StickerMatch match = learned ? StickerMatch(*learned) : StickerMatch(thresholds_for(color));
    if (reference_paths.isEmpty()) {
        select_reference(reference_paths, match, reference, log);
        RigCalibration rig;
        rig.sticker_color = color;
        rig.learned_colour = learned;
        rig.reference_stickers = reference.points;
        return rig;
    }
    Construction construction(reference_paths, match, reference, log, progress);
    run(construction, reference_paths);
    RigCalibration rig = construction.finish_rig(color);
    if (!(progress && progress->stop_requested()))
        add_drift_references(rig);
    return rig;
}

void add_drift_references(RigCalibration& rig)
{
    cv::parallel_for_(cv::Range(0, rig.camera_count()), [&rig](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) {
            CameraCalibration& camera = rig.cameras[i];
            camera.drift = make_drift_reference(
                read_drift_picture(camera.reference_photo, camera.reference_size));
        }
    });
}
