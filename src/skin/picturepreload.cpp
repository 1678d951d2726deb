#include "picturepreload.h"

#include "skinresources.h"
#include "startupwork.h"

#include <map>

namespace skin {

namespace {
struct Preload {
    std::map<QString, QImage> decoded; // written by the decoder only until it is waited for
    platform::StartupWork decoder;     // declared last, so it is waited for before the map goes
};

Preload &preload() {
    static Preload state;
    return state;
}
} // namespace

void startDecodingPictures(const QStringList &paths) {
    Preload &state = preload();
    state.decoder.start([paths, &decoded = state.decoded] {
        initSkinResources();
        for (const QString &path : paths)
            decoded.emplace(path, QImage(path));
    });
}

QImage takePicture(const QString &path) {
    Preload &state = preload();
    state.decoder.await();
    const auto found = state.decoded.find(path);
    if (found == state.decoded.end())
        return {};
    QImage picture = std::move(found->second);
    state.decoded.erase(found);
    return picture;
}

} // namespace skin
