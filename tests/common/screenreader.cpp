#include "screenreader.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>

namespace atspi {

namespace {

constexpr int kCallTimeoutMs = 5000;
const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kRootPath = QStringLiteral("/org/a11y/atspi/accessible/root");

// AT-SPI's states (AtspiStateType), bits of the two words GetState answers.
enum State { Checked = 4, Enabled = 8, Focused = 12, Sensitive = 24, Showing = 25 };

// The accessibility bus, where the session bus's launcher of it says it is, as programs find it.
QDBusConnection bus() {
    static const QDBusConnection connection = [] {
        const QDBusMessage reply = QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall(
                QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")),
            QDBus::Block, kCallTimeoutMs);
        const QString address =
            reply.arguments().isEmpty() ? QString() : reply.arguments().constFirst().toString();
        return QDBusConnection::connectToBus(address, QStringLiteral("kirrow-test-accessibility"));
    }();
    return connection;
}

// The first value a call answers, or nothing when it fails (the object has gone away).
QVariant call(const Node &node, const QString &interface, const QString &method,
              const QVariantList &arguments = {}) {
    if (node.isNull())
        return {};
    QDBusMessage message =
        QDBusMessage::createMethodCall(node.service, node.path, interface, method);
    message.setArguments(arguments);
    // Waited for with the test's events handled meanwhile: the program may be waiting on the test
    // too (for the X selection the test holds, when it pastes).
    const QDBusPendingCall pending = bus().asyncCall(message, kCallTimeoutMs);
    if (!pending.isFinished()) {
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const QDBusMessage reply = pending.reply();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst();
}

QVariant property(const Node &node, const QString &name) {
    return call(node, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                {kAccessible, name})
        .value<QDBusVariant>()
        .variant();
}

Node reference(const QDBusArgument &argument) {
    Node node;
    QDBusObjectPath path;
    argument.beginStructure();
    argument >> node.service >> path;
    argument.endStructure();
    node.path = path.path();
    // AT-SPI's null reference: no object.
    if (node.path == QLatin1String("/org/a11y/atspi/null"))
        return {};
    return node;
}

bool hasState(const Node &node, State state) {
    const QVariant answer = call(node, kAccessible, QStringLiteral("GetState"));
    if (!answer.isValid())
        return false;
    const auto words = qdbus_cast<QList<uint>>(answer);
    const int word = state / 32;
    return words.size() > word && (words[word] & (1u << (state % 32)));
}

void collect(const Node &node, const std::function<bool(const Node &)> &match, QList<Node> &found) {
    for (const Node &child : node.children()) {
        if (!child.showing())
            continue;
        if (match(child))
            found << child;
        collect(child, match, found);
    }
}

} // namespace

QString Node::role() const {
    return call(*this, kAccessible, QStringLiteral("GetRoleName")).toString();
}

QString Node::name() const {
    return property(*this, QStringLiteral("Name")).toString();
}

QString Node::description() const {
    return property(*this, QStringLiteral("Description")).toString();
}

QList<Node> Node::children() const {
    QList<Node> children;
    const QVariant answer = call(*this, kAccessible, QStringLiteral("GetChildren"));
    if (!answer.canConvert<QDBusArgument>())
        return children;
    const auto argument = answer.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        const Node child = reference(argument);
        if (!child.isNull())
            children << child;
    }
    argument.endArray();
    return children;
}

Node Node::parent() const {
    const QVariant answer = property(*this, QStringLiteral("Parent"));
    if (!answer.canConvert<QDBusArgument>() || path == kRootPath)
        return {};
    return reference(answer.value<QDBusArgument>());
}

bool Node::showing() const {
    return hasState(*this, Showing);
}

bool Node::enabled() const {
    return hasState(*this, Enabled) && hasState(*this, Sensitive);
}

bool Node::checked() const {
    return hasState(*this, Checked);
}

bool Node::focused() const {
    return hasState(*this, Focused);
}

QRect Node::extents() const {
    // Coordinates of the screen (ATSPI_COORD_TYPE_SCREEN).
    const QVariant answer = call(*this, QStringLiteral("org.a11y.atspi.Component"),
                                 QStringLiteral("GetExtents"), {QVariant::fromValue(0u)});
    if (!answer.canConvert<QDBusArgument>())
        return {};
    const auto argument = answer.value<QDBusArgument>();
    int x = 0, y = 0, width = 0, height = 0;
    argument.beginStructure();
    argument >> x >> y >> width >> height;
    argument.endStructure();
    return QRect(x, y, width, height);
}

QString Node::text() const {
    return call(*this, QStringLiteral("org.a11y.atspi.Text"), QStringLiteral("GetText"), {0, -1})
        .toString();
}

Node application(qint64 pid) {
    const QStringList names = bus().interface()->registeredServiceNames().value();
    for (const QString &name : names) {
        if (!name.startsWith(QLatin1Char(':')))
            continue;
        if (bus().interface()->servicePid(name).value() == pid)
            return Node{name, kRootPath};
    }
    return {};
}

QList<Node> findAll(const Node &root, const std::function<bool(const Node &)> &match) {
    QList<Node> found;
    collect(root, match, found);
    return found;
}

Node find(const Node &root, const QString &name, const QString &role) {
    const QList<Node> found = findAll(root, [&](const Node &node) {
        return (name.isEmpty() || node.name().trimmed() == name) &&
               (role.isEmpty() || node.role() == role);
    });
    return found.isEmpty() ? Node{} : found.constFirst();
}

QString outline(const Node &root) {
    QString lines;
    const std::function<void(const Node &, int)> add = [&](const Node &node, int depth) {
        for (const Node &child : node.children()) {
            if (!child.showing())
                continue;
            lines += QString(depth * 2, QLatin1Char(' ')) +
                     QStringLiteral("%1 \"%2\"%3\n")
                         .arg(child.role(), child.name(),
                              child.enabled() ? QString() : QStringLiteral(" (disabled)"));
            add(child, depth + 1);
        }
    };
    add(root, 0);
    return lines;
}

} // namespace atspi
