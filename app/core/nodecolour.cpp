#include "core/nodecolour.h"

#include <algorithm>
#include <cmath>

uint32_t LightenColour(uint32_t colour, int percent)
{
    static const double white = std::sqrt(195075.0);
    double c[3] = {static_cast<double>(colour & 0xFF), static_cast<double>((colour >> 8) & 0xFF),
                   static_cast<double>((colour >> 16) & 0xFF)};
    for (double& v : c) {
        if (v == 0) {
            v = 1;
        }
    }
    const double length = std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2]);
    const double target = (percent + 100.0 * length / white) * white / 100.0;
    uint32_t out = 0;
    for (int i = 0; i < 3; ++i) {
        const double v = std::clamp(c[i] / length * target, 0.0, 255.0);
        out |= static_cast<uint32_t>(v) << (8 * i);
    }
    return out;
}

uint32_t NodeColour(uint32_t colour, int status, bool valid_file, bool keep, int variant)
{
    switch (status) {
    case 1:
        colour = 0x0000FF;
        break;
    case 2:
        colour = 0x4080FF;
        break;
    case 3:
        colour = 0x00B000;
        break;
    default:
        if (!valid_file) {
            colour = 0x00A0A0;
        } else if (!keep) {
            colour = 0;
        }
        break;
    }
    if (variant == 2) {
        colour = LightenColour(colour, valid_file ? 70 : 20);
    } else if (variant == 3) {
        colour = LightenColour(colour, valid_file ? 50 : 15);
    }
    return colour;
}
