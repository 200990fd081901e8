// Build-time helper: renders the SVG artwork of the resource bundle into the
// raster files the program and the style sheet need.
//
//   quillon-svgtool png <in.svg> <out.png> <size>
//   quillon-svgtool ico <in.svg> <out.ico>
//
// The icon file holds 13 images: 256 (PNG), 64, 48, 40, 32, 24, 20 and 16 in
// 32-bit colour, 48, 32 and 16 with a 256-colour palette, 32 and 16 with the
// 16-colour Windows palette.
#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QVector>

#include <cstdio>

namespace {

struct IconImage
{
    int size;
    int bitCount;
};

const IconImage kIconImages[] = {{256, 32}, {64, 32}, {48, 32}, {40, 32}, {32, 32},
                                 {24, 32},  {20, 32}, {16, 32}, {48, 8},  {32, 8},
                                 {16, 8},   {32, 4},  {16, 4}};

QImage render(QSvgRenderer &renderer, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    return image;
}

void putU16(QByteArray &out, quint32 v)
{
    out.append(char(v & 0xff));
    out.append(char((v >> 8) & 0xff));
}

void putU32(QByteArray &out, quint32 v)
{
    putU16(out, v & 0xffff);
    putU16(out, v >> 16);
}

int rowBytes(int width, int bitCount)
{
    return ((width * bitCount + 31) / 32) * 4;
}

// Opaque pixels keep their colour blended over white; see-through ones are
// black in the colour bitmap and set in the AND mask.
QImage flatten(const QImage &argb)
{
    QImage flat(argb.size(), QImage::Format_RGB32);
    for (int y = 0; y < argb.height(); ++y) {
        for (int x = 0; x < argb.width(); ++x) {
            const QColor c = argb.pixelColor(x, y);
            if (c.alpha() < 128) {
                flat.setPixel(x, y, qRgb(0, 0, 0));
                continue;
            }
            const double a = c.alphaF();
            flat.setPixel(x, y,
                          qRgb(int(c.red() * a + 255 * (1 - a)), int(c.green() * a + 255 * (1 - a)),
                               int(c.blue() * a + 255 * (1 - a))));
        }
    }
    return flat;
}

QVector<QRgb> windowsPalette16()
{
    return {qRgb(0, 0, 0),       qRgb(128, 0, 0),   qRgb(0, 128, 0),   qRgb(128, 128, 0),
            qRgb(0, 0, 128),     qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192),
            qRgb(128, 128, 128), qRgb(255, 0, 0),   qRgb(0, 255, 0),   qRgb(255, 255, 0),
            qRgb(0, 0, 255),     qRgb(255, 0, 255), qRgb(0, 255, 255), qRgb(255, 255, 255)};
}

QByteArray dib(const QImage &argb, int bitCount)
{
    const int w = argb.width();
    const int h = argb.height();
    QImage pixels;
    QVector<QRgb> palette;
    if (bitCount == 32) {
        pixels = argb;
    } else {
        const QImage flat = flatten(argb);
        if (bitCount == 8) {
            pixels = flat.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
        } else {
            pixels = flat.convertToFormat(QImage::Format_Indexed8, windowsPalette16(),
                                          Qt::ThresholdDither);
        }
        palette = pixels.colorTable();
        palette.resize(1 << bitCount, qRgb(0, 0, 0));
    }

    const int xorRow = rowBytes(w, bitCount);
    const int andRow = rowBytes(w, 1);
    QByteArray out;
    putU32(out, 40);
    putU32(out, quint32(w));
    putU32(out, quint32(h * 2));
    putU16(out, 1);
    putU16(out, quint32(bitCount));
    putU32(out, 0);
    putU32(out, quint32((xorRow + andRow) * h));
    putU32(out, 0);
    putU32(out, 0);
    putU32(out, 0);
    putU32(out, 0);
    for (QRgb c : palette) {
        out.append(char(qBlue(c)));
        out.append(char(qGreen(c)));
        out.append(char(qRed(c)));
        out.append(char(0));
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(xorRow, '\0');
        for (int x = 0; x < w; ++x) {
            if (bitCount == 32) {
                const QRgb c = argb.pixel(x, y);
                row[x * 4] = char(qBlue(c));
                row[x * 4 + 1] = char(qGreen(c));
                row[x * 4 + 2] = char(qRed(c));
                row[x * 4 + 3] = char(qAlpha(c));
            } else if (bitCount == 8) {
                row[x] = char(pixels.pixelIndex(x, y));
            } else {
                const int index = pixels.pixelIndex(x, y) & 0x0f;
                row[x / 2] = char(row[x / 2] | (x % 2 == 0 ? index << 4 : index));
            }
        }
        out.append(row);
    }
    for (int y = h - 1; y >= 0; --y) {
        QByteArray row(andRow, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(argb.pixel(x, y)) < 128) {
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
            }
        }
        out.append(row);
    }
    return out;
}

QByteArray png(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return data;
}

bool writeFile(const char *path, const QByteArray &data)
{
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

int fail(const char *message)
{
    std::fprintf(stderr, "quillon-svgtool: %s\n", message);
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 4) {
        return fail("usage: png <in.svg> <out.png> <size> | ico <in.svg> <out.ico>");
    }
    const QByteArray command(argv[1]);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[2]));
    if (!renderer.isValid()) {
        return fail("cannot read the SVG file");
    }

    if (command == "png" && argc == 5) {
        const int size = QByteArray(argv[4]).toInt();
        if (size <= 0 || size > 1024) {
            return fail("bad size");
        }
        return render(renderer, size).save(QString::fromLocal8Bit(argv[3]), "PNG")
                   ? 0
                   : fail("cannot write the PNG file");
    }

    if (command == "ico" && argc == 4) {
        const int count = int(sizeof(kIconImages) / sizeof(kIconImages[0]));
        QByteArray header;
        putU16(header, 0);
        putU16(header, 1);
        putU16(header, quint32(count));
        QByteArray images;
        quint32 offset = 6 + 16 * quint32(count);
        for (const IconImage &entry : kIconImages) {
            const QImage image = render(renderer, entry.size);
            const QByteArray data = entry.size >= 256 ? png(image) : dib(image, entry.bitCount);
            header.append(char(entry.size >= 256 ? 0 : entry.size));
            header.append(char(entry.size >= 256 ? 0 : entry.size));
            header.append(char(entry.bitCount == 4 ? 16 : 0));
            header.append(char(0));
            putU16(header, 1);
            putU16(header, quint32(entry.bitCount));
            putU32(header, quint32(data.size()));
            putU32(header, offset);
            offset += quint32(data.size());
            images.append(data);
        }
        return writeFile(argv[3], header + images) ? 0 : fail("cannot write the ICO file");
    }
    return fail("unknown command");
}
