#include "quantize.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <map>
#include <vector>

#include <QSet>

namespace art {

namespace {

constexpr int kPaletteSize = 256;
constexpr int kRefinePasses = 6;
// Share of the quantisation error passed on to the neighbours; a little below one keeps the
// dither quiet on the flat parts of the body.
constexpr double kDiffusion = 0.85;

struct Weighted {
    std::array<double, 3> rgb;
    double count;
};

struct Box {
    std::vector<Weighted> colours;

    double weight() const {
        double sum = 0;
        for (const Weighted &c : colours)
            sum += c.count;
        return sum;
    }
    // Spread along the widest channel, weighted by how many pixels use the box.
    std::pair<int, double> widest() const {
        std::array<double, 3> lo{255, 255, 255}, hi{0, 0, 0};
        for (const Weighted &c : colours)
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], c.rgb[k]);
                hi[k] = std::max(hi[k], c.rgb[k]);
            }
        int axis = 0;
        for (int k = 1; k < 3; ++k)
            if (hi[k] - lo[k] > hi[axis] - lo[axis])
                axis = k;
        return {axis, hi[axis] - lo[axis]};
    }
    std::array<double, 3> mean() const {
        std::array<double, 3> sum{0, 0, 0};
        double n = 0;
        for (const Weighted &c : colours) {
            for (int k = 0; k < 3; ++k)
                sum[k] += c.rgb[k] * c.count;
            n += c.count;
        }
        for (double &v : sum)
            v /= std::max(n, 1.0);
        return sum;
    }
};

std::vector<std::array<double, 3>> medianCut(std::vector<Weighted> colours, int wanted) {
    std::vector<Box> boxes{Box{std::move(colours)}};
    while (int(boxes.size()) < wanted) {
        int best = -1;
        double bestScore = 0;
        for (int i = 0; i < int(boxes.size()); ++i) {
            if (boxes[i].colours.size() < 2)
                continue;
            const double score = boxes[i].widest().second * std::sqrt(boxes[i].weight());
            if (score > bestScore) {
                bestScore = score;
                best = i;
            }
        }
        if (best < 0)
            break;
        Box &box = boxes[best];
        const int axis = box.widest().first;
        std::sort(
            box.colours.begin(), box.colours.end(),
            [axis](const Weighted &a, const Weighted &b) { return a.rgb[axis] < b.rgb[axis]; });
        const double half = box.weight() / 2;
        double running = 0;
        std::size_t cut = 1;
        for (; cut < box.colours.size(); ++cut) {
            running += box.colours[cut - 1].count;
            if (running >= half)
                break;
        }
        cut = std::clamp<std::size_t>(cut, 1, box.colours.size() - 1);
        Box upper{std::vector<Weighted>(box.colours.begin() + long(cut), box.colours.end())};
        box.colours.resize(cut);
        boxes.push_back(std::move(upper));
    }
    std::vector<std::array<double, 3>> centres;
    for (const Box &box : boxes)
        centres.push_back(box.mean());
    return centres;
}

double distance2(const std::array<double, 3> &a, const std::array<double, 3> &b) {
    // Weighted towards green, as the eye is.
    const double dr = a[0] - b[0], dg = a[1] - b[1], db = a[2] - b[2];
    return 2 * dr * dr + 4 * dg * dg + 3 * db * db;
}

void refine(std::vector<std::array<double, 3>> &centres, const std::vector<Weighted> &colours) {
    for (int pass = 0; pass < kRefinePasses; ++pass) {
        std::vector<std::array<double, 3>> sums(centres.size(), {0, 0, 0});
        std::vector<double> counts(centres.size(), 0);
        for (const Weighted &c : colours) {
            std::size_t best = 0;
            double bestD = std::numeric_limits<double>::max();
            for (std::size_t i = 0; i < centres.size(); ++i) {
                const double d = distance2(c.rgb, centres[i]);
                if (d < bestD) {
                    bestD = d;
                    best = i;
                }
            }
            for (int k = 0; k < 3; ++k)
                sums[best][k] += c.rgb[k] * c.count;
            counts[best] += c.count;
        }
        for (std::size_t i = 0; i < centres.size(); ++i)
            if (counts[i] > 0)
                for (int k = 0; k < 3; ++k)
                    centres[i][k] = sums[i][k] / counts[i];
    }
}

} // namespace

QImage toIndexed8(const QImage &source, const QColor &key, const QList<QColor> &exact) {
    const QImage picture = source.convertToFormat(QImage::Format_RGB32);
    const QRgb keyRgb = key.rgb() & RGB_MASK;
    const int w = picture.width();
    const int h = picture.height();

    std::map<QRgb, int> reserved; // exact colour -> palette index
    QList<QRgb> table{0xff000000u | keyRgb};
    reserved[keyRgb] = 0;
    for (const QColor &c : exact) {
        const QRgb rgb = c.rgb() & RGB_MASK;
        if (!reserved.count(rgb)) {
            reserved[rgb] = int(table.size());
            table.append(0xff000000u | rgb);
        }
    }

    std::map<QRgb, double> histogram;
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const QRgb rgb = line[x] & RGB_MASK;
            if (!reserved.count(rgb))
                histogram[rgb] += 1;
        }
    }
    std::vector<Weighted> colours;
    for (const auto &[rgb, count] : histogram)
        colours.push_back({{double(qRed(rgb)), double(qGreen(rgb)), double(qBlue(rgb))}, count});

    const int free = kPaletteSize - int(table.size());
    std::vector<std::array<double, 3>> centres = medianCut(colours, free);
    refine(centres, colours);
    // Every entry distinct: a centre that rounds onto an entry already taken (or onto the key)
    // moves to the nearest free colour, one step at a time.
    QSet<QRgb> taken;
    for (QRgb rgb : table)
        taken.insert(rgb & RGB_MASK);
    auto freeNear = [&](QRgb rgb) {
        for (int step = 0; taken.contains(rgb & RGB_MASK); ++step) {
            const int delta = (step / 3 + 1) * ((step % 2) ? -1 : 1);
            int r = qRed(rgb), g = qGreen(rgb), b = qBlue(rgb);
            (step % 3 == 0 ? r : step % 3 == 1 ? g : b) += delta;
            rgb = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
        taken.insert(rgb & RGB_MASK);
        return rgb;
    };
    for (const auto &c : centres)
        table.append(
            freeNear(qRgb(int(std::lround(c[0])), int(std::lround(c[1])), int(std::lround(c[2])))));
    // A picture with fewer colours than the palette: fill it with unused greys.
    for (int grey = 0; table.size() < kPaletteSize; ++grey)
        table.append(freeNear(qRgb(grey, grey, grey)));

    // Candidates for dithered pixels: every entry but the key.
    std::vector<std::array<double, 3>> entries;
    for (QRgb rgb : table)
        entries.push_back({double(qRed(rgb)), double(qGreen(rgb)), double(qBlue(rgb))});
    auto nearest = [&](const std::array<double, 3> &c) {
        int best = 1;
        double bestD = std::numeric_limits<double>::max();
        for (int i = 1; i < kPaletteSize; ++i) {
            const double d = distance2(c, entries[i]);
            if (d < bestD) {
                bestD = d;
                best = i;
            }
        }
        return best;
    };

    QImage out(w, h, QImage::Format_Indexed8);
    out.setColorTable(table);
    // Floyd-Steinberg, serpentine, confined to dithered pixels: the error never crosses into the
    // key colour or into the exact flat colours.
    std::vector<std::array<double, 3>> error(std::size_t(w + 2) * 2, {0, 0, 0});
    auto err = [&](int row, int x) -> std::array<double, 3> & {
        return error[std::size_t(row & 1) * (w + 2) + x + 1];
    };
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(picture.constScanLine(y));
        uchar *target = out.scanLine(y);
        for (int x = -1; x <= w; ++x)
            err(y + 1, x) = {0, 0, 0};
        const bool leftToRight = (y % 2) == 0;
        for (int step = 0; step < w; ++step) {
            const int x = leftToRight ? step : w - 1 - step;
            const int dir = leftToRight ? 1 : -1;
            const QRgb rgb = line[x] & RGB_MASK;
            const auto fixed = reserved.find(rgb);
            if (fixed != reserved.end()) {
                target[x] = uchar(fixed->second);
                continue;
            }
            std::array<double, 3> want{qRed(rgb) + err(y, x)[0], qGreen(rgb) + err(y, x)[1],
                                       qBlue(rgb) + err(y, x)[2]};
            for (double &v : want)
                v = std::clamp(v, 0.0, 255.0);
            const int index = nearest(want);
            target[x] = uchar(index);
            std::array<double, 3> e;
            for (int k = 0; k < 3; ++k)
                e[k] = (want[k] - entries[index][k]) * kDiffusion;
            auto spread = [&](int row, int nx, double share) {
                if (nx < 0 || nx >= w || row >= h)
                    return;
                const QRgb neighbour =
                    reinterpret_cast<const QRgb *>(picture.constScanLine(row))[nx] & RGB_MASK;
                if (reserved.count(neighbour))
                    return;
                for (int k = 0; k < 3; ++k)
                    err(row, nx)[k] += e[k] * share;
            };
            spread(y, x + dir, 7.0 / 16);
            spread(y + 1, x - dir, 3.0 / 16);
            spread(y + 1, x, 5.0 / 16);
            spread(y + 1, x + dir, 1.0 / 16);
        }
    }
    return out;
}

} // namespace art
