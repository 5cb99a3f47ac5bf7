#pragma once
// The monitor overview of a desktop capture: the list "Nur 1. Monitor" … "Alle Monitore" and a
// strip with one 50-pixel cell per monitor showing the capture shrunk, the chosen cell framed
// and the others dotted. Choosing a monitor sets ClipRect to it and scrolls to its left edge.

#include "platform/monitor.h"

#include <QImage>
#include <QObject>

#include <functional>
#include <vector>

class QComboBox;
class QLabel;
class QWidget;

namespace glimmerly {

class ClipTool;
struct EditorPicture;

inline constexpr int kMonitorCellWidth = 50;
inline constexpr int kMonitorStripHeight = 40;

class MonitorOverview : public QObject {
    Q_OBJECT

public:
    // `panel` holds `strip`; `scrollTo` sets the horizontal scroll position of the picture.
    MonitorOverview(QComboBox& list, QWidget& panel, QLabel& strip, EditorPicture& picture,
                    ClipTool& clip, std::function<void(int)> scrollTo);

    // The desktop of the capture being edited: fills the list and sizes the strip.
    void SetMonitors(const std::vector<platform::Monitor>& monitors);

    int PictureOriginX() const { return originX_; }
    const std::vector<platform::Monitor>& MonitorOrder() const { return order_; }

    // At every opening for a desktop capture: the strip is built anew from the capture and the
    // first monitor chosen.
    void Open();
    // Index into MonitorOrder, or -1 for all monitors; another index selects nothing.
    void SelectMonitor(int index);
    // Redraws the strip with the cell from `start`, `span` pixels wide, marked.
    void DrawMonitorSelection(int start, int span);
    // Mouse on the strip, in strip pixels: a press notes x, a left click selects the cell under
    // it, a double click all monitors (after its first click chose the cell).
    void Pressed(int x) { thumbnailClickX_ = x; }
    void Clicked() { SelectMonitor(thumbnailClickX_ / kMonitorCellWidth); }
    void DoubleClicked() { SelectMonitor(-1); }
    const QImage& StripImage() const { return shown_; }
    // A list entry applied as the user's choice: the last one is all monitors.
    void ApplyEntry(int entry);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int StripWidth() const;

    std::vector<platform::Monitor> monitors_;
    std::vector<platform::Monitor> order_;
    int originX_ = 0;
    int thumbnailClickX_ = 0;
    bool clickArmed_ = false;
    QComboBox& list_;
    QWidget& panel_;
    QLabel& strip_;
    EditorPicture& picture_;
    ClipTool& clip_;
    std::function<void(int)> scrollTo_;
    QImage thumbnail_; // DesktopThumbnail
    QImage shown_;
};

} // namespace glimmerly
