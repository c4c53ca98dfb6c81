#include "NoticeSender.h"

#include "runlog/LogText.h"

#include <algorithm>
#include <cstdlib>
#include <dbus/dbus.h>
#include <sys/stat.h>
#include <vector>

namespace {

const char* const Service = "org.freedesktop.Notifications";
const char* const Path = "/org/freedesktop/Notifications";
const char* const Interface = "org.freedesktop.Notifications";
constexpr unsigned char UrgencyNormal = 1;
constexpr unsigned char UrgencyCritical = 2;
// Actions of older notices are no longer taken: a service keeps few.
constexpr std::size_t KeptIds = 64;

// Each line made valid UTF-8 without control bytes, lines joined by separator.
std::string SafeLines(const std::string& text, const std::string& separator) {
    std::string safe;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        safe += MakeLogSafe(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            return safe;
        }
        safe += separator;
        start = end + 1;
    }
}

// The session bus as the environment names it; empty where there is none
// (nothing is launched).
std::string SessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        return address;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime != nullptr && *runtime != '\0' && stat((std::string(runtime) + "/bus").c_str(), &st) == 0) {
        return "unix:path=" + std::string(runtime) + "/bus";
    }
    return {};
}

// A method call's reply, or nullptr when none came in time.
DBusMessage* Call(DBusConnection* bus, DBusMessage* call, int timeout) {
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, call, timeout, &error);
    dbus_message_unref(call);
    dbus_error_free(&error);
    return reply;
}

DBusMessage* NotificationsCall(const char* method) {
    return dbus_message_new_method_call(Service, Path, Interface, method);
}

std::vector<std::string> Capabilities(DBusConnection* bus, int timeout, bool& answered) {
    std::vector<std::string> capabilities;
    DBusMessage* reply = Call(bus, NotificationsCall("GetCapabilities"), timeout);
    answered = reply != nullptr && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN;
    DBusMessageIter args;
    if (answered && dbus_message_iter_init(reply, &args) &&
        dbus_message_iter_get_arg_type(&args) == DBUS_TYPE_ARRAY) {
        DBusMessageIter item;
        dbus_message_iter_recurse(&args, &item);
        while (dbus_message_iter_get_arg_type(&item) == DBUS_TYPE_STRING) {
            const char* name = nullptr;
            dbus_message_iter_get_basic(&item, &name);
            capabilities.emplace_back(name);
            dbus_message_iter_next(&item);
        }
    }
    if (reply != nullptr) {
        dbus_message_unref(reply);
    }
    return capabilities;
}

void AppendString(DBusMessageIter& iter, const std::string& text) {
    const char* value = text.c_str();
    dbus_message_iter_append_basic(&iter, DBUS_TYPE_STRING, &value);
}

template <typename T>
void AppendHint(DBusMessageIter& hints, const char* key, int type, const char* signature, T value) {
    DBusMessageIter entry;
    DBusMessageIter variant;
    dbus_message_iter_open_container(&hints, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
    dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key);
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, signature, &variant);
    dbus_message_iter_append_basic(&variant, type, &value);
    dbus_message_iter_close_container(&entry, &variant);
    dbus_message_iter_close_container(&hints, &entry);
}

DBusMessage* NotifyCall(const TRunNotice& notice, bool actions, bool markup) {
    DBusMessage* call = NotificationsCall("Notify");
    DBusMessageIter args;
    dbus_message_iter_init_append(call, &args);
    AppendString(args, "Pairwell");
    const dbus_uint32_t replaces = 0;
    dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &replaces);
    AppendString(args, "pairwell");
    AppendString(args, NoticeBusText(notice.FTitle, false));
    AppendString(args, NoticeBusText(notice.FBody, markup));
    DBusMessageIter list;
    dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING_AS_STRING, &list);
    if (actions) {
        AppendString(list, OpenLogActionKey);
        AppendString(list, OpenLogActionLabel);
    }
    dbus_message_iter_close_container(&args, &list);
    DBusMessageIter hints;
    dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "{sv}", &hints);
    AppendHint(hints, "urgency", DBUS_TYPE_BYTE, DBUS_TYPE_BYTE_AS_STRING,
               notice.FProblem ? UrgencyCritical : UrgencyNormal);
    AppendHint(hints, "desktop-entry", DBUS_TYPE_STRING, DBUS_TYPE_STRING_AS_STRING, "pairwell");
    dbus_message_iter_close_container(&args, &hints);
    const dbus_int32_t expires = -1;
    dbus_message_iter_append_basic(&args, DBUS_TYPE_INT32, &expires);
    return call;
}

} // namespace

std::string NoticeBusText(const std::string& text, bool markup) {
    const std::string safe = SafeLines(text, "\n");
    if (!markup) {
        return safe;
    }
    std::string escaped;
    for (const char c : safe) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

std::string NoticeLine(const TRunNotice& notice) {
    return "notice: " + SafeLines(notice.FTitle, " / ") + ": " + SafeLines(notice.FBody, " / ");
}

TNoticeSender::TNoticeSender(int timeoutMilliseconds) : FTimeout(timeoutMilliseconds) {}

TNoticeSender::~TNoticeSender() {
    Disconnect();
}

bool TNoticeSender::Connect() {
    if (FBus != nullptr && dbus_connection_get_is_connected(FBus)) {
        return true;
    }
    Disconnect();
    const std::string address = SessionBusAddress();
    if (address.empty()) {
        return false;
    }
    DBusError error;
    dbus_error_init(&error);
    FBus = dbus_connection_open_private(address.c_str(), &error);
    dbus_error_free(&error);
    if (FBus == nullptr) {
        return false;
    }
    dbus_connection_set_exit_on_disconnect(FBus, FALSE);
    // Hello by hand: the library's own waits up to 25 seconds.
    DBusMessage* hello = dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                      "org.freedesktop.DBus", "Hello");
    DBusMessage* welcome = Call(FBus, hello, FTimeout);
    if (welcome == nullptr) {
        Disconnect();
        return false;
    }
    dbus_message_unref(welcome);
    // Without an error to fill, the match is sent and not waited for.
    dbus_bus_add_match(FBus, "type='signal',interface='org.freedesktop.Notifications',member='ActionInvoked'",
                       nullptr);
    return true;
}

void TNoticeSender::Disconnect() {
    if (FBus != nullptr) {
        dbus_connection_close(FBus);
        dbus_connection_unref(FBus);
        FBus = nullptr;
    }
    FSentIds.clear();
}

bool TNoticeSender::Send(const TRunNotice& notice) {
    if (!Connect()) {
        return false;
    }
    bool answered = false;
    const std::vector<std::string> capabilities = Capabilities(FBus, FTimeout, answered);
    if (!answered) {
        return false; // no service on the bus
    }
    const auto has = [&](const char* name) {
        return std::find(capabilities.begin(), capabilities.end(), name) != capabilities.end();
    };
    DBusMessage* reply = Call(FBus, NotifyCall(notice, has("actions"), has("body-markup")), FTimeout);
    if (reply == nullptr) {
        return false;
    }
    dbus_uint32_t id = 0;
    const bool taken = dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
                       dbus_message_get_args(reply, nullptr, DBUS_TYPE_UINT32, &id, DBUS_TYPE_INVALID);
    dbus_message_unref(reply);
    if (taken) {
        FSentIds.push_back(id);
        if (FSentIds.size() > KeptIds) {
            FSentIds.pop_front();
        }
    }
    return taken;
}

bool TNoticeSender::ActionInvoked() {
    if (FBus == nullptr) {
        return false;
    }
    bool invoked = false;
    dbus_connection_read_write(FBus, 0);
    while (DBusMessage* message = dbus_connection_pop_message(FBus)) {
        dbus_uint32_t id = 0;
        const char* key = nullptr;
        if (dbus_message_is_signal(message, Interface, "ActionInvoked") &&
            dbus_message_get_args(message, nullptr, DBUS_TYPE_UINT32, &id, DBUS_TYPE_STRING, &key,
                                  DBUS_TYPE_INVALID) &&
            key == OpenLogActionKey && std::find(FSentIds.begin(), FSentIds.end(), id) != FSentIds.end()) {
            invoked = true;
        }
        dbus_message_unref(message);
    }
    if (!dbus_connection_get_is_connected(FBus)) {
        Disconnect(); // the bus went: its descriptor must not wake the owner again
    }
    return invoked;
}

int TNoticeSender::Fd() const {
    int fd = -1;
    if (FBus == nullptr || !dbus_connection_get_unix_fd(FBus, &fd)) {
        return -1;
    }
    return fd;
}
