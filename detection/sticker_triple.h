#pragma once

#include "detection/sticker_components.h"

#include <opencv2/core/types.hpp>

#include <array>
#include <iosfwd>
#include <optional>
#include <vector>

// The three stickers of one photo: a table of centres (one row per component
// index, pixels) and the rows of the top, middle and bottom sticker.
struct StickerTriple
{
    std::vector<cv::Point2d> centres;
    std::array<int, 3> indices{};
};

// Which rule picked the triple.
enum class SelectionRule
{
    ExactlyThree,
    AreaRule,
    CentreRule
};

struct IdentifiedTriple
{
    StickerTriple triple;
    SelectionRule rule = SelectionRule::ExactlyThree;
};

// Picks the three stickers among the components and orders them top to bottom,
// writing the diagnostic lines to `log`. Empty when fewer than three components exist.
std::optional<IdentifiedTriple> identify_sticker_triple(const StickerComponents& components,
                                                        std::ostream& log);
