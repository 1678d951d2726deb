// The one entry point of the loadable engine: the program finds it by name.

#include "linphoneclient.h"

extern "C" Q_DECL_EXPORT rtc::IRTCClient *kirrow_create_engine() {
    return new rtc::LinphoneClient();
}
