#include "calibration/calibration_construction.h"

#include "calibration/alignment.h"
#include "detection/sticker_components.h"
#include "detection/sticker_triple.h"

#include <optional>
#include <ostream>

void detect_stickers(Calibration& calibration, const QString& path, int image_index,
                     const ColorThresholds& thresholds, const ReferenceTriple& reference,
                     std::ostream& log)
{
    const std::optional<IdentifiedTriple> identified =
        identify_sticker_triple(find_sticker_components(path, thresholds, log), log);
    if (!identified)
        return;

    const StickerTriple& triple = identified->triple;
    if (identified->rule == SelectionRule::CentreRule) {
        log << "test image newcentroids :" << std::endl;
        for (int index : triple.indices) {
            log << "x = " << triple.centres[index].x << " y = " << triple.centres[index].y
                << std::endl;
        }
    }
    estimate_alignment(calibration, image_index, triple.indices, triple.centres, reference, log);
}

Calibration construct_calibration(const QStringList& reference_paths,
                                  const ColorThresholds& thresholds, ReferenceTriple& reference,
                                  std::ostream& log)
{
    Calibration calibration = Calibration::with_count(reference_paths.size());
    if (!select_reference(reference_paths, thresholds, reference, log))
        return calibration;
    for (int i = 0; i < reference_paths.size(); ++i)
        detect_stickers(calibration, reference_paths[i], i, thresholds, reference, log);
    return calibration;
}
