// The voices view (see voices_view.h).
#include "ui/voices_view.h"

#include "playback/player.h"
#include "playback/voice_scope.h"

#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr const char* VoiceTitles[VoiceCount] = {"A", "B", "C", "Beeper"};
constexpr int LabelWidth = 64;
constexpr int LevelWidth = 14;
constexpr int Gap = 6;

// The largest value a voice can reach in the chip's mono mix: a channel at
// its top level is a third of the mix, the beeper swings by its level.
int FullScale(int voice, const Player& player) {
    if (voice == VoiceBeeper) return std::max(1, int{player.Settings().BeeperSetting()});
    return 32766 / 3;
}

} // namespace

VoicesView::VoicesView(Player& player, QWidget* parent)
    : QWidget(parent, Qt::Tool), Playback(player) {
    setWindowTitle(QStringLiteral("Voices"));
    setMinimumSize(240, 160);
    resize(420, 260);
    // Every paint covers what it is asked to repaint: no back to fill first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&Timer, &QTimer::timeout, this, &VoicesView::Refresh);
}

VoicesView::~VoicesView() = default;

void VoicesView::showEvent(QShowEvent* event) {
    OwnScope = std::make_unique<VoiceScope>(Playback);
    // One step per picture the display shows.
    const qreal rate = screen() ? screen()->refreshRate() : 60;
    Timer.setInterval(static_cast<int>(std::lround(1000 / std::clamp<qreal>(rate, 10, 240))));
    Timer.start();
    Refresh();
    QWidget::showEvent(event);
}

void VoicesView::hideEvent(QHideEvent* event) {
    Timer.stop();
    OwnScope.reset();
    QWidget::hideEvent(event);
}

void VoicesView::resizeEvent(QResizeEvent* event) {
    Back = QPixmap();
    QWidget::resizeEvent(event);
}

int VoicesView::RowHeight() const { return height() / VoiceCount; }

QRect VoicesView::Moving() const {
    return QRect(LabelWidth, 0, width() - LabelWidth, VoiceCount * RowHeight());
}

void VoicesView::Refresh() {
    if (!OwnScope || !OwnScope->Follow()) return;
    // Only the traces and the levels move; the names change with the mute.
    unsigned muted = 0;
    for (int v = 0; v < VoiceCount; ++v) muted |= OwnScope->Muted(v) ? 1u << v : 0;
    if (muted != BackMuted || Back.isNull()) {
        Back = QPixmap();
        update();
    } else {
        update(Moving());
    }
}

void VoicesView::PaintBack() {
    Back = QPixmap(size());
    BackMuted = 0;
    QPainter painter(&Back);
    painter.fillRect(rect(), QColor(16, 20, 24));
    const int rowHeight = RowHeight();
    const int barHeight = rowHeight - 2 * Gap;
    const int levelLeft = width() - LevelWidth - Gap;
    for (int v = 0; v < VoiceCount; ++v) {
        const int top = v * rowHeight;
        const int middle = top + rowHeight / 2;
        const bool muted = OwnScope && OwnScope->Muted(v);
        BackMuted |= muted ? 1u << v : 0;
        if (v > 0) {
            painter.setPen(QColor(48, 56, 64));
            painter.drawLine(0, top, width(), top);
        }
        painter.setPen(muted ? QColor(110, 110, 110) : QColor(220, 220, 220));
        painter.drawText(QRect(Gap, top, LabelWidth - Gap, rowHeight / 2),
                         Qt::AlignLeft | Qt::AlignBottom, QString::fromLatin1(VoiceTitles[v]));
        if (muted)
            painter.drawText(QRect(Gap, middle, LabelWidth - Gap, rowHeight / 2),
                             Qt::AlignLeft | Qt::AlignTop, QStringLiteral("muted"));
        painter.fillRect(levelLeft, top + Gap, LevelWidth, barHeight, QColor(40, 46, 52));
    }
}

void VoicesView::paintEvent(QPaintEvent* event) {
    if (Back.isNull()) PaintBack();
    QPainter painter(this);
    painter.drawPixmap(event->rect(), Back, event->rect());
    if (!OwnScope) return;
    const int rowHeight = RowHeight();
    const int traceLeft = LabelWidth;
    const int traceWidth = std::max(1, width() - LabelWidth - LevelWidth - 2 * Gap);
    const int levelLeft = width() - LevelWidth - Gap;
    std::vector<QLine> trace(static_cast<size_t>(traceWidth));
    for (int v = 0; v < VoiceCount; ++v) {
        const int top = v * rowHeight;
        const int middle = top + rowHeight / 2;
        const bool muted = OwnScope->Muted(v);

        // The trace: each column a line from its lowest to its highest value
        // and on to the next column's, around the window's middle value, so
        // that a square wave of any level stands in the row's middle and a
        // silent voice is a flat line there.
        const std::span<const int16_t> window = OwnScope->Window(v);
        const auto [low, high] = std::minmax_element(window.begin(), window.end());
        const int centre = (int{*low} + int{*high}) / 2;
        // Fixed point: 16 bits of fraction.
        const auto scale = static_cast<int64_t>(0.9 * rowHeight * 65536 / FullScale(v, Playback));
        const auto yOf = [&](int value) {
            return middle - static_cast<int>(((value - centre) * scale) >> 16);
        };
        const size_t count = window.size();
        int lastLow = middle, lastHigh = middle;
        for (int x = 0; x < traceWidth; ++x) {
            const size_t from = count * static_cast<size_t>(x) / static_cast<size_t>(traceWidth);
            const size_t to = std::max(from + 1, count * static_cast<size_t>(x + 1) /
                                                     static_cast<size_t>(traceWidth));
            int16_t lo = window[from], hi = window[from];
            for (size_t i = from + 1; i < to; ++i) {
                lo = std::min(lo, window[i]);
                hi = std::max(hi, window[i]);
            }
            // Joined to the column before, so that a step is a line too.
            int yTop = yOf(hi), yBottom = yOf(lo);
            if (x > 0) {
                yTop = std::min(yTop, lastHigh);
                yBottom = std::max(yBottom, lastLow);
            }
            lastHigh = yOf(hi);
            lastLow = yOf(lo);
            trace[static_cast<size_t>(x)] = QLine(traceLeft + x, yTop, traceLeft + x, yBottom);
        }
        painter.setPen(muted ? QColor(90, 90, 90) : QColor(90, 220, 120));
        painter.drawLines(trace.data(), traceWidth);

        // The level: the window's largest magnitude against the voice's top.
        const int barHeight = rowHeight - 2 * Gap;
        const double level = std::min(1.0, double(OwnScope->Peak(v)) / FullScale(v, Playback));
        const int filled = static_cast<int>(std::lround(level * barHeight));
        painter.fillRect(levelLeft, top + Gap + barHeight - filled, LevelWidth, filled,
                         QColor(230, 190, 70));
    }
}
