#include "platform/wayland/sway_tree.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace glimmerly::platform::wayland {

namespace {

struct Found {
    QJsonObject node;
    QJsonObject parent;
};

std::optional<Found> FindFocused(const QJsonObject& node, const QJsonObject& parent) {
    if (node.value(QLatin1String("focused")).toBool())
        return Found{node, parent};
    for (const char* list : {"nodes", "floating_nodes"}) {
        for (const QJsonValue child : node.value(QLatin1String(list)).toArray()) {
            if (auto found = FindFocused(child.toObject(), node))
                return found;
        }
    }
    return std::nullopt;
}

Rect RectOf(const QJsonObject& node, const char* key) {
    const QJsonObject r = node.value(QLatin1String(key)).toObject();
    const int x = r.value(QLatin1String("x")).toInt();
    const int y = r.value(QLatin1String("y")).toInt();
    return Rect{x, y, x + r.value(QLatin1String("width")).toInt(),
                y + r.value(QLatin1String("height")).toInt()};
}

} // namespace

std::optional<FocusedWindow> FocusedWindowInTree(std::string_view json) {
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(json.data(), static_cast<qsizetype>(json.size())));
    if (!document.isObject())
        return std::nullopt;
    const auto found = FindFocused(document.object(), QJsonObject());
    if (!found)
        return std::nullopt;
    const QString type = found->node.value(QLatin1String("type")).toString();
    if (type != QLatin1String("con") && type != QLatin1String("floating_con"))
        return std::nullopt; // a workspace or an output: no window has the focus
    // sway reports "rect" without the title bar (as i3 does): it is moved down by the title's
    // height, and in a stacked container by the heights of all the siblings' titles above.
    int titles = 1;
    if (found->parent.value(QLatin1String("layout")).toString() == QLatin1String("stacked"))
        titles = static_cast<int>(found->parent.value(QLatin1String("nodes")).toArray().size());
    const int titleHeight = RectOf(found->node, "deco_rect").Height() * titles;
    Rect outer = RectOf(found->node, "rect");
    outer.Top -= titleHeight;
    const QByteArray title = found->node.value(QLatin1String("name")).toString().toUtf8();
    return FocusedWindow{title.toStdString(), outer};
}

} // namespace glimmerly::platform::wayland
