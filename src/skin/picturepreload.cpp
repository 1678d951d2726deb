#include "picturepreload.h"

#include "skinresources.h"
#include "startupwork.h"

#include <QFileInfo>
#include <QImageReader>

#include <list>
#include <map>

namespace skin {

namespace {
// One call's pictures, decoded on a thread of their own.
struct Batch {
    QStringList paths;
    std::map<QString, QImage> decoded; // written by the decoder only until it is waited for
    platform::StartupWork decoder;     // declared last, so it is waited for before the map goes
};

// Only the GUI thread adds batches; a list keeps each where its decoder finds it.
std::list<Batch> &batches() {
    static std::list<Batch> started;
    return started;
}

QImage readPicture(const QString &path) {
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    if (suffix == "png" || suffix == "bmp") {
        QImageReader reader(path, suffix);
        reader.setAutoDetectImageFormat(false);
        if (QImage picture = reader.read(); !picture.isNull())
            return picture;
    }
    return QImage(path);
}
} // namespace

void startDecodingPictures(const QStringList &paths) {
    Batch &batch = batches().emplace_back();
    batch.paths = paths;
    // The decoder reads a list of its own: the GUI thread reads the batch's while it decodes.
    batch.decoder.start([&decoded = batch.decoded, paths] {
        initSkinResources();
        for (const QString &path : paths)
            decoded.emplace(path, readPicture(path));
    });
}

QImage takePicture(const QString &path) {
    for (Batch &batch : batches()) {
        if (!batch.paths.contains(path))
            continue;
        batch.decoder.await();
        const auto found = batch.decoded.find(path);
        if (found == batch.decoded.end())
            continue; // taken already
        QImage picture = std::move(found->second);
        batch.decoded.erase(found);
        return picture;
    }
    return {};
}

QImage loadPicture(const QString &path) {
    QImage picture = takePicture(path);
    return picture.isNull() ? readPicture(path) : picture;
}

} // namespace skin
