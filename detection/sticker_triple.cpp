#include "detection/sticker_triple.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <ostream>

namespace {

void sort_by_top(std::vector<int>& indices, const std::vector<ComponentRecord>& components)
{
    std::stable_sort(indices.begin(), indices.end(),
                     [&](int a, int b) { return components[a].top < components[b].top; });
}

IdentifiedTriple make_result(const std::vector<ComponentRecord>& components,
                             std::vector<int> chosen, SelectionRule rule)
{
    sort_by_top(chosen, components);
    IdentifiedTriple result;
    result.rule = rule;
    result.triple.indices = {chosen[0], chosen[1], chosen[2]};
    result.triple.centres.reserve(components.size());
    for (const ComponentRecord& component : components)
        result.triple.centres.emplace_back(component.centre_x, component.centre_y);
    return result;
}

// The sticker nearest the image centre, and the two blobs lying closest to the
// vertical line through it.
std::vector<int> centre_rule(const StickerComponents& found, std::ostream& log)
{
    const std::vector<ComponentRecord>& components = found.components;
    const int n = static_cast<int>(components.size());
    const double cx = static_cast<double>(found.image_width / 2);
    const double cy = static_cast<double>(found.image_height / 2);

    std::vector<double> distances(n);
    for (int i = 0; i < n; ++i) {
        distances[i] = std::sqrt((components[i].centre_x - cx) * (components[i].centre_x - cx) +
                                 (components[i].centre_y - cy) * (components[i].centre_y - cy));
        log << "distance to center : " << distances[i] << std::endl;
    }
    // min_element keeps the first of equal minima: the lowest index wins.
    const int centre =
        static_cast<int>(std::min_element(distances.begin(), distances.end()) - distances.begin());
    log << "center index : " << centre << std::endl;
    log << "center coord x: " << components[centre].centre_x
        << " y: " << components[centre].centre_y << std::endl;

    std::vector<double> offsets(n);
    for (int i = 0; i < n; ++i) {
        offsets[i] = std::abs(components[centre].centre_x - components[i].centre_x);
        log << "vert align : " << offsets[i] << std::endl;
    }
    std::vector<int> others;
    for (int i = 0; i < n; ++i) {
        if (i != centre)
            others.push_back(i);
    }
    std::stable_sort(others.begin(), others.end(),
                     [&](int a, int b) { return offsets[a] < offsets[b]; });
    return {others[0], centre, others[1]};
}

} // namespace

std::optional<IdentifiedTriple> identify_sticker_triple(const StickerComponents& found,
                                                        std::ostream& log)
{
    const std::vector<ComponentRecord>& components = found.components;
    std::vector<int> order(components.size());
    std::iota(order.begin(), order.end(), 0);
    sort_by_top(order, components);

    if (order.size() < 3) {
        log << "less than 3 CC : detection failed" << std::endl;
        return std::nullopt;
    }
    if (order.size() == 3) {
        log << "3 CC detected : success" << std::endl;
        return make_result(components, order, SelectionRule::ExactlyThree);
    }

    log << "more than 3 CC : computing" << std::endl;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return components[a].area > components[b].area; });
    const int a0 = components[order[0]].area;
    const int a1 = components[order[1]].area;
    const int a2 = components[order[2]].area;
    const int a3 = components[order[3]].area;
    log << "areas of 0 1 2 3" << std::endl;
    log << a0 << " ! " << a1 << " ! " << a2 << " ! " << a3 << std::endl;

    // Widened so that records not made from a real image cannot overflow.
    if (static_cast<long long>(a2) > 2LL * a3) {
        log << "3rd > 2* 4th" << std::endl;
        return make_result(components, {order[0], order[1], order[2]}, SelectionRule::AreaRule);
    }
    return make_result(components, centre_rule(found, log), SelectionRule::CentreRule);
}
