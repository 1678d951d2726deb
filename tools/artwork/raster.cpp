#include "raster.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace art {

namespace {

// Every bevel is lit from the same place: above and a little to the left of the viewer.
struct LightDirection {
    double x, y, z;
};
constexpr LightDirection kLightFrom = [] {
    // Normalised (-0.45, -0.8, 0.95) written out so the constant stays constexpr.
    constexpr double x = -0.45, y = -0.8, z = 0.95;
    constexpr double length = 1.3210980281;
    return LightDirection{x / length, y / length, z / length};
}();

constexpr double kFar = 1e20;

// One row of the squared Euclidean distance transform (Felzenszwalb and Huttenlocher).
void squaredDistance1d(const double *f, double *d, int n, std::vector<int> &v,
                       std::vector<double> &z) {
    int k = 0;
    v[0] = 0;
    z[0] = -kFar;
    z[1] = kFar;
    for (int q = 1; q < n; ++q) {
        double s =
            ((f[q] + double(q) * q) - (f[v[k]] + double(v[k]) * v[k])) / (2.0 * q - 2.0 * v[k]);
        while (s <= z[k]) {
            --k;
            s = ((f[q] + double(q) * q) - (f[v[k]] + double(v[k]) * v[k])) / (2.0 * q - 2.0 * v[k]);
        }
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = kFar;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < q)
            ++k;
        const double dq = q - v[k];
        d[q] = dq * dq + f[v[k]];
    }
}

// Distance, in samples, from every sample on the measured side (inside the shape when
// measureInside, else outside it) to the nearest sample on the other side. Beyond the edges of
// the grid counts as outside the shape.
std::vector<float> distanceTransform(const std::vector<std::uint8_t> &bits, int width, int height,
                                     bool measureInside) {
    // One sample of outside all round, so a shape touching the edge still has an outline there.
    const int pw = width + 2, ph = height + 2;
    const int longest = std::max(pw, ph);
    std::vector<double> f(longest), d(longest);
    std::vector<int> v(longest);
    std::vector<double> z(longest + 1);
    std::vector<double> grid(std::size_t(pw) * ph, measureInside ? 0.0 : kFar);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            grid[std::size_t(y + 1) * pw + x + 1] =
                ((bits[std::size_t(y) * width + x] != 0) == measureInside) ? kFar : 0.0;

    for (int x = 0; x < pw; ++x) {
        for (int y = 0; y < ph; ++y)
            f[y] = grid[std::size_t(y) * pw + x];
        squaredDistance1d(f.data(), d.data(), ph, v, z);
        for (int y = 0; y < ph; ++y)
            grid[std::size_t(y) * pw + x] = d[y];
    }
    for (int y = 0; y < ph; ++y) {
        double *row = grid.data() + std::size_t(y) * pw;
        std::copy(row, row + pw, f.begin());
        squaredDistance1d(f.data(), d.data(), pw, v, z);
        std::copy(d.begin(), d.begin() + pw, row);
    }
    std::vector<float> out(std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out[std::size_t(y) * width + x] =
                float(std::sqrt(std::min(grid[std::size_t(y + 1) * pw + x + 1], 1e12)));
    return out;
}

double clamp01(double v) {
    return std::clamp(v, 0.0, 1.0);
}

} // namespace

Rgb toRgb(const QColor &colour) {
    return {double(colour.red()), double(colour.green()), double(colour.blue())};
}

QColor toColor(const Rgb &colour) {
    auto channel = [](double v) { return int(std::lround(std::clamp(v, 0.0, 255.0))); };
    return QColor(channel(colour.r), channel(colour.g), channel(colour.b));
}

Rgb mix(const Rgb &from, const Rgb &to, double amount) {
    return {from.r + (to.r - from.r) * amount, from.g + (to.g - from.g) * amount,
            from.b + (to.b - from.b) * amount};
}

QColor mixColor(const QColor &from, const QColor &to, double amount) {
    QColor out = toColor(mix(toRgb(from), toRgb(to), amount));
    out.setAlphaF(float(from.alphaF() + (to.alphaF() - from.alphaF()) * amount));
    return out;
}

Rgb verticalBlend(const std::vector<QColor> &stops, double top, double bottom, double y) {
    if (stops.size() == 1)
        return toRgb(stops.front());
    const double t = clamp01((y - top) / (bottom - top)) * double(stops.size() - 1);
    const std::size_t i = std::min(std::size_t(t), stops.size() - 2);
    // Smooth the joints between stops so no crease shows in the gradient.
    const double local = t - double(i);
    const double eased = local * local * (3 - 2 * local);
    return mix(toRgb(stops[i]), toRgb(stops[i + 1]), eased);
}

Mask::Mask(QSize pictureSize)
    : m_pictureSize(pictureSize), m_width(pictureSize.width() * kSupersample),
      m_height(pictureSize.height() * kSupersample), m_bits(std::size_t(m_width) * m_height, 0) {}

Mask Mask::fromPath(QSize pictureSize, const QPainterPath &path) {
    Mask mask(pictureSize);
    QImage samples(mask.m_width, mask.m_height, QImage::Format_Grayscale8);
    samples.fill(0);
    {
        QPainter painter(&samples);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.scale(kSupersample, kSupersample);
        painter.fillPath(path, Qt::white);
    }
    for (int y = 0; y < mask.m_height; ++y) {
        const uchar *line = samples.constScanLine(y);
        for (int x = 0; x < mask.m_width; ++x)
            mask.m_bits[std::size_t(y) * mask.m_width + x] = line[x] > 127 ? 1 : 0;
    }
    return mask;
}

void Mask::unite(const Mask &other) {
    for (std::size_t i = 0; i < m_bits.size(); ++i)
        m_bits[i] = m_bits[i] | other.m_bits[i];
}

void Mask::subtract(const Mask &other) {
    for (std::size_t i = 0; i < m_bits.size(); ++i)
        m_bits[i] = m_bits[i] & (other.m_bits[i] ^ 1);
}

void Mask::roundInnerCorners(double radius) {
    // Closing: grow the shape by the radius, then shrink it back. Done on a grid padded by more
    // than the radius, so growth near the picture's edges is not clipped and then eaten away.
    const int samples = int(std::ceil(radius * kSupersample));
    const int pad = samples + 2;
    const int pw = m_width + 2 * pad, ph = m_height + 2 * pad;
    std::vector<std::uint8_t> padded(std::size_t(pw) * ph, 0);
    for (int y = 0; y < m_height; ++y)
        std::copy_n(m_bits.begin() + std::ptrdiff_t(y) * m_width, m_width,
                    padded.begin() + std::ptrdiff_t(y + pad) * pw + pad);
    const double reach = radius * kSupersample;
    const std::vector<float> toShape = distanceTransform(padded, pw, ph, false);
    for (std::size_t i = 0; i < padded.size(); ++i)
        padded[i] = toShape[i] <= reach ? 1 : 0;
    const std::vector<float> toOutside = distanceTransform(padded, pw, ph, true);
    for (std::size_t i = 0; i < padded.size(); ++i)
        padded[i] = (padded[i] != 0 && toOutside[i] > reach) ? 1 : 0;
    for (int y = 0; y < m_height; ++y)
        std::copy_n(padded.begin() + std::ptrdiff_t(y + pad) * pw + pad, m_width,
                    m_bits.begin() + std::ptrdiff_t(y) * m_width);
}

double Mask::coverage(int x, int y) const {
    int count = 0;
    for (int sy = 0; sy < kSupersample; ++sy)
        for (int sx = 0; sx < kSupersample; ++sx)
            count += at(x * kSupersample + sx, y * kSupersample + sy) ? 1 : 0;
    return double(count) / (kSupersample * kSupersample);
}

std::vector<float> Mask::insideDistance() const {
    std::vector<float> d = distanceTransform(m_bits, m_width, m_height, true);
    for (float &v : d)
        v /= kSupersample;
    return d;
}

std::vector<float> Mask::outsideDistance() const {
    std::vector<float> d = distanceTransform(m_bits, m_width, m_height, false);
    for (float &v : d)
        v /= kSupersample;
    return d;
}

QImage relief(const Mask &shape, const Shader &fill, const Bevel &bevel, const QColor &highlight,
              const QColor &shadow) {
    const int sw = shape.sampleWidth();
    const int sh = shape.sampleHeight();
    const std::vector<float> distance = shape.insideDistance();
    const Rgb lit = toRgb(highlight);
    const Rgb dark = toRgb(shadow);
    const double sign = bevel.raised ? 1.0 : -1.0;
    // Distances are measured to the centre of the nearest outside sample; the outline itself
    // lies half a sample nearer.
    const double halfSample = 0.5 / kSupersample;

    auto distanceAt = [&](int sx, int sy) {
        sx = std::clamp(sx, 0, sw - 1);
        sy = std::clamp(sy, 0, sh - 1);
        return double(distance[std::size_t(sy) * sw + sx]);
    };

    const QSize size = shape.pictureSize();
    QImage out(size, QImage::Format_ARGB32_Premultiplied);
    out.fill(Qt::transparent);
    constexpr double samplesPerPixel = kSupersample * kSupersample;
    for (int y = 0; y < size.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            Rgb sum;
            int covered = 0;
            for (int sy = y * kSupersample; sy < (y + 1) * kSupersample; ++sy) {
                for (int sx = x * kSupersample; sx < (x + 1) * kSupersample; ++sx) {
                    if (!shape.at(sx, sy))
                        continue;
                    ++covered;
                    const double px = (sx + 0.5) / kSupersample;
                    const double py = (sy + 0.5) / kSupersample;
                    Rgb colour = fill(px, py);
                    const double d = std::max(0.0, distanceAt(sx, sy) - halfSample);
                    if (d < bevel.width) {
                        const double t = d / bevel.width;
                        // Inward direction: where the distance to the outline grows.
                        double gx = distanceAt(sx + 1, sy) - distanceAt(sx - 1, sy);
                        double gy = distanceAt(sx, sy + 1) - distanceAt(sx, sy - 1);
                        const double length = std::hypot(gx, gy);
                        if (length > 1e-9) {
                            gx /= length;
                            gy /= length;
                        }
                        // A rounded rim: steepest at the outline, flat where the bevel ends.
                        const double slope = bevel.steepness * (1 - t) * (1 - t) * sign;
                        double nx = -slope * gx, ny = -slope * gy, nz = 1;
                        const double norm = std::sqrt(nx * nx + ny * ny + nz * nz);
                        nx /= norm;
                        ny /= norm;
                        nz /= norm;
                        const double shade = nx * kLightFrom.x + ny * kLightFrom.y +
                                             nz * kLightFrom.z - kLightFrom.z;
                        if (shade > 0)
                            colour = mix(colour, lit, clamp01(shade * bevel.highlight));
                        else
                            colour = mix(colour, dark, clamp01(-shade * bevel.shadow));
                        if (bevel.occlusion > 0)
                            colour =
                                mix(colour, dark, clamp01(bevel.occlusion * (1 - t) * (1 - t)));
                    }
                    sum.r += colour.r;
                    sum.g += colour.g;
                    sum.b += colour.b;
                }
            }
            if (covered == 0)
                continue;
            // Premultiplied: the sum over covered samples divided by all samples.
            auto channel = [&](double v) {
                return int(std::lround(std::clamp(v / samplesPerPixel, 0.0, 255.0)));
            };
            line[x] = qRgba(channel(sum.r), channel(sum.g), channel(sum.b),
                            int(std::lround(255.0 * covered / samplesPerPixel)));
        }
    }
    return out;
}

std::vector<bool> hardCutOf(const Mask &shape) {
    const QSize size = shape.pictureSize();
    std::vector<bool> inside(std::size_t(size.width()) * size.height());
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            inside[std::size_t(y) * size.width() + x] = shape.coverage(x, y) >= 0.5;
    return inside;
}

void applyHardCut(QImage &picture, const std::vector<bool> &inside, const QColor &key) {
    const QRgb keyRgb = key.rgb() & RGB_MASK;
    // The nearest colour that is not the key: one step less red.
    const QRgb nudged = qRgb(qMax(0, key.red() - 1), key.green(), key.blue());
    for (int y = 0; y < picture.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const bool in = inside[std::size_t(y) * picture.width() + x];
            if (!in)
                line[x] = 0xff000000u | keyRgb;
            else if ((line[x] & RGB_MASK) == keyRgb)
                line[x] = 0xff000000u | nudged;
            else
                line[x] |= 0xff000000u;
        }
    }
}

void darkenPartialOutline(QImage &picture, const Mask &shape, const QColor &outline,
                          double strength) {
    const Rgb dark = toRgb(outline);
    for (int y = 0; y < picture.height(); ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const double covered = shape.coverage(x, y);
            if (covered < 0.5 || covered >= 1.0)
                continue;
            const Rgb here{double(qRed(line[x])), double(qGreen(line[x])), double(qBlue(line[x]))};
            const QColor c = toColor(mix(here, dark, strength * (1.0 - covered) * 2.0));
            line[x] = c.rgb();
        }
    }
}

QImage blurred(const QImage &premultiplied, int radius) {
    QImage image = premultiplied.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (radius <= 0)
        return image;
    const int w = image.width();
    const int h = image.height();
    std::vector<double> channels[4];
    for (auto &c : channels)
        c.assign(std::size_t(w) * h, 0.0);
    for (int y = 0; y < h; ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * w + x;
            channels[0][i] = qRed(line[x]);
            channels[1][i] = qGreen(line[x]);
            channels[2][i] = qBlue(line[x]);
            channels[3][i] = qAlpha(line[x]);
        }
    }
    std::vector<double> tmp(std::size_t(w) * h);
    auto boxPass = [&](std::vector<double> &c, bool horizontal) {
        const int n = horizontal ? w : h;
        const int lines = horizontal ? h : w;
        for (int l = 0; l < lines; ++l) {
            auto index = [&](int k) {
                return horizontal ? std::size_t(l) * w + k : std::size_t(k) * w + l;
            };
            for (int k = 0; k < n; ++k) {
                double sum = 0;
                for (int j = k - radius; j <= k + radius; ++j)
                    if (j >= 0 && j < n)
                        sum += c[index(j)];
                tmp[index(k)] = sum / (2 * radius + 1);
            }
        }
        c.swap(tmp);
    };
    constexpr int kPasses = 3;
    for (auto &c : channels) {
        for (int pass = 0; pass < kPasses; ++pass) {
            boxPass(c, true);
            boxPass(c, false);
        }
    }
    for (int y = 0; y < h; ++y) {
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * w + x;
            auto v = [&](int c) {
                return int(std::lround(std::clamp(channels[c][i], 0.0, 255.0)));
            };
            const int a = v(3);
            line[x] = qRgba(std::min(v(0), a), std::min(v(1), a), std::min(v(2), a), a);
        }
    }
    return image;
}

} // namespace art
