#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <cstdio>

#include "resources/generator/pictures.h"

// Writes the program's pictures into the directory given as the only argument.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmora-resgen <output directory>\n");
        return 2;
    }
    // The title is set in Liberation Sans (fonts-liberation2) whatever the
    // system's font configuration says.
    QFontDatabase::addApplicationFont(
        QStringLiteral("/usr/share/fonts/truetype/liberation2/LiberationSans-BoldItalic.ttf"));

    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.exists() && !QDir().mkpath(out.path())) {
        std::fprintf(stderr, "velmora-resgen: cannot create %s\n", argv[1]);
        return 1;
    }
    const QImage background = DrawBackground();
    const QImage background2x = DrawBackground(2);
    const struct {
        const char* name;
        QImage image;
    } pictures[] = {
        {"bitmap_101.png", background},       {"bitmap_102.png", background},
        {"bitmap_101@2x.png", background2x},  {"bitmap_102@2x.png", background2x},
        {"bitmap_103.png", DrawGlyphStrip()}, {"icon_128.png", DrawIcon(32)},
        {"icon_128_256.png", DrawIcon(256)},
    };
    for (const auto& picture : pictures) {
        const QString path = out.filePath(QString::fromLatin1(picture.name));
        if (!picture.image.save(path, "PNG")) {
            std::fprintf(stderr, "velmora-resgen: cannot write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return 0;
}
