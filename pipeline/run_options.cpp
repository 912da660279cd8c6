#include "pipeline/run_options.h"

#include <algorithm>

bool is_video_long_side(int long_side)
{
    return std::find(video_long_sides.begin(), video_long_sides.end(), long_side) !=
           video_long_sides.end();
}

QString between_refusal(int long_side, int between)
{
    if (between <= 0 || long_side != original_video_size)
        return QString();
    return QStringLiteral("les images intermédiaires se font à une taille de vidéo réduite, pas "
                          "à la taille originale");
}
