#include "errortraps.h"

#include "messagebox.h"
#include "rtcclient.h"

namespace platform {

QString formLoadErrorText() {
    return QStringLiteral("An Error Occured and has been logged. FORMLOAD");
}

QString errorDescription(const std::exception &error) {
    if (const auto *rtcError = dynamic_cast<const rtc::RtcError *>(&error))
        return rtcError->description().isEmpty() ? QString::number(rtcError->number())
                                                 : rtcError->description();
    return QString::fromLocal8Bit(error.what());
}

QString errorNumber(const std::exception &error) {
    if (const auto *rtcError = dynamic_cast<const rtc::RtcError *>(&error))
        return QString::number(rtcError->number());
    return errorDescription(error);
}

bool stopAndShow(const std::function<void()> &step) {
    try {
        step();
        return true;
    } catch (const std::exception &) {
        showMessage(formLoadErrorText());
        return false;
    }
}

bool showInStatusLine(const std::function<void(const QString &)> &show,
                      const std::function<void()> &step, ErrorText text) {
    try {
        step();
        return true;
    } catch (const std::exception &error) {
        show(QStringLiteral("Error:  ") +
             (text == ErrorText::Number ? errorNumber(error) : errorDescription(error)));
        return false;
    }
}

bool skipOnError(const std::function<void()> &step) {
    try {
        step();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

} // namespace platform
