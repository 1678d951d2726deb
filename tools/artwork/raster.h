// Pixel-level helpers: shapes sampled finer than the picture, lit bevels computed from the
// distance to a shape's outline, the hard cut to the transparent key colour, and blurs.
#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QSize>

#include <cstdint>
#include <functional>
#include <vector>

namespace art {

// Shapes are sampled this many times finer than the picture in each direction.
inline constexpr int kSupersample = 4;

struct Rgb {
    double r = 0;
    double g = 0;
    double b = 0;
};

Rgb toRgb(const QColor &colour);
QColor toColor(const Rgb &colour);
Rgb mix(const Rgb &from, const Rgb &to, double amount);
QColor mixColor(const QColor &from, const QColor &to, double amount);

// A vertical gradient through any number of evenly spaced stops, as a shading function.
Rgb verticalBlend(const std::vector<QColor> &stops, double top, double bottom, double y);

// A binary shape over a picture of pictureSize, sampled kSupersample times finer.
class Mask {
public:
    explicit Mask(QSize pictureSize);
    static Mask fromPath(QSize pictureSize, const QPainterPath &path);

    QSize pictureSize() const { return m_pictureSize; }
    int sampleWidth() const { return m_width; }
    int sampleHeight() const { return m_height; }
    bool at(int sx, int sy) const { return m_bits[std::size_t(sy) * m_width + sx] != 0; }

    void unite(const Mask &other);
    void subtract(const Mask &other);
    // Morphological closing: rounds every inward (concave) corner with this radius in pixels.
    void roundInnerCorners(double radius);
    // Share of the pixel's samples that lie inside, 0 to 1.
    double coverage(int x, int y) const;
    // Distance of every sample to the nearest sample outside, in picture pixels.
    std::vector<float> insideDistance() const;
    std::vector<float> outsideDistance() const;

private:
    QSize m_pictureSize;
    int m_width;
    int m_height;
    std::vector<std::uint8_t> m_bits;
};

// How a shape's rim slopes and how strongly the light and the shade show on it.
struct Bevel {
    double width = 4;       // pixels from the outline to where the surface is flat
    double steepness = 1.5; // slope at the outline; higher means a harder rim
    bool raised = true; // raised rims catch the light at the top left, recesses at the bottom right
    double highlight = 0.7; // how far lit slopes move toward the highlight colour
    double shadow = 0.7;    // how far shaded slopes move toward the shadow colour
    double occlusion = 0;   // extra darkening hugging the outline (deep recesses)
};

using Shader = std::function<Rgb(double x, double y)>;

// The shape filled by the shader and lit along its rim, antialiased at its outline.
// Returns a premultiplied ARGB picture of the mask's picture size.
QImage relief(const Mask &shape, const Shader &fill, const Bevel &bevel, const QColor &highlight,
              const QColor &shadow);

// Cuts a skin out of a fully painted picture: pixels outside the shape become exactly the key
// colour, pixels inside never are. The outline is hard: no pixel blends into the key colour.
void applyHardCut(QImage &picture, const std::vector<bool> &inside, const QColor &key);
// Which pixels belong to the shape: at least half of their samples inside.
std::vector<bool> hardCutOf(const Mask &shape);
// Darkens the outermost ring of pixels by how little of them is covered, so the stepped outline
// reads as antialiased against a dark desktop without ever touching the key colour.
void darkenPartialOutline(QImage &picture, const Mask &shape, const QColor &outline,
                          double strength);

// Three box blurs of the given radius over a premultiplied ARGB picture.
QImage blurred(const QImage &premultiplied, int radius);

} // namespace art
