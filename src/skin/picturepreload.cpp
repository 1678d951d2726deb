#include "picturepreload.h"

#include "skinresources.h"

#include <map>
#include <thread>

namespace skin {

namespace {
struct Preload {
    std::thread decoder;
    std::map<QString, QImage> decoded; // written by the decoder only until it is joined
    // A program that ends before taking any picture must not end with the thread running.
    ~Preload() {
        if (decoder.joinable())
            decoder.join();
    }
};

Preload &preload() {
    static Preload state;
    return state;
}
} // namespace

void startDecodingPictures(const QStringList &paths) {
    Preload &state = preload();
    if (state.decoder.joinable() || !state.decoded.empty())
        return;
    state.decoder = std::thread([paths, &decoded = state.decoded] {
        initSkinResources();
        for (const QString &path : paths)
            decoded.emplace(path, QImage(path));
    });
}

QImage takePicture(const QString &path) {
    Preload &state = preload();
    if (state.decoder.joinable())
        state.decoder.join();
    const auto found = state.decoded.find(path);
    if (found == state.decoded.end())
        return {};
    QImage picture = std::move(found->second);
    state.decoded.erase(found);
    return picture;
}

} // namespace skin
