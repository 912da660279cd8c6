#include "detection/reference_selection.h"

#include "detection/sticker_triple.h"

#include <ostream>

bool select_reference(const QStringList& reference_paths, const StickerMatch& match,
                      ReferenceTriple& reference, std::ostream& log)
{
    if (reference_paths.isEmpty()) {
        log << "no reference image : selection failed" << std::endl;
        return false;
    }
    const QString& path = reference_paths[reference_paths.size() / 2];
    return select_reference(find_sticker_components(path, match, log), reference, log);
}

bool select_reference(const StickerComponents& middle_components, ReferenceTriple& reference,
                      std::ostream& log)
{
    const std::optional<IdentifiedTriple> identified =
        identify_sticker_triple(middle_components, log);
    if (!identified)
        return false;

    const StickerTriple& triple = identified->triple;
    for (int k = 0; k < 3; ++k)
        reference.points[k] = triple.centres[triple.indices[k]];
    reference.selected = true;

    log << "Reference chosen :" << std::endl;
    for (const cv::Point2d& point : reference.points)
        log << "x = " << point.x << " y = " << point.y << std::endl;
    return true;
}
