// Writes a photo-like JPEG for the image-heavy benchmark decks: smooth shapes with fine grain, so that it
// compresses like a photograph and the office has real image work to do.
//   bench_photo OUT.jpg WIDTH HEIGHT [SEED] [QUALITY]
#include <QCoreApplication>
#include <QImage>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 4) {
        fprintf(stderr, "usage: %s OUT.jpg WIDTH HEIGHT [SEED] [QUALITY]\n", argv[0]);
        return 2;
    }
    const int width = atoi(argv[2]);
    const int height = atoi(argv[3]);
    const quint32 seed = argc > 4 ? quint32(atoi(argv[4])) : 1;
    const int quality = argc > 5 ? atoi(argv[5]) : 90;
    if (width <= 0 || height <= 0) {
        fprintf(stderr, "bad size\n");
        return 2;
    }
    QRandomGenerator random(seed);
    // A few broad waves per channel make the scene; the grain makes every 8x8 block differ.
    double f[3][4], ph[3][4];
    for (auto& row : f)
        for (double& v : row)
            v = 0.5 + random.generateDouble() * 6.0;
    for (auto& row : ph)
        for (double& v : row)
            v = random.generateDouble() * 6.283;
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const double v = double(y) / height;
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            int c[3];
            for (int k = 0; k < 3; ++k) {
                const double s = std::sin(f[k][0] * u * 6.283 + ph[k][0]) +
                                 std::sin(f[k][1] * v * 6.283 + ph[k][1]) +
                                 std::sin((f[k][2] * u + f[k][3] * v) * 6.283 + ph[k][2]) +
                                 0.5 * std::sin(40.0 * u * v + ph[k][3]);
                c[k] = int(128 + 40 * s) + int(random.bounded(25)) - 12;
                c[k] = c[k] < 0 ? 0 : c[k] > 255 ? 255 : c[k];
            }
            line[x] = qRgb(c[0], c[1], c[2]);
        }
    }
    if (!image.save(QString::fromLocal8Bit(argv[1]), "JPEG", quality)) {
        fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
