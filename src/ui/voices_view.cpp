// The voices view (see voices_view.h).
#include "ui/voices_view.h"

#include "playback/player.h"
#include "playback/voice_scope.h"

#include <QPainter>
#include <QPolygon>
#include <QScreen>
#include <QShowEvent>
#include <algorithm>
#include <cmath>

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
    : QWidget(parent, Qt::Tool), player_(player) {
    setWindowTitle(QStringLiteral("Voices"));
    setMinimumSize(240, 160);
    resize(420, 260);
    connect(&timer_, &QTimer::timeout, this, &VoicesView::Refresh);
}

VoicesView::~VoicesView() = default;

void VoicesView::showEvent(QShowEvent* event) {
    scope_ = std::make_unique<VoiceScope>(player_);
    // One step per picture the display shows.
    const qreal rate = screen() ? screen()->refreshRate() : 60;
    timer_.setInterval(static_cast<int>(std::lround(1000 / std::clamp<qreal>(rate, 10, 240))));
    timer_.start();
    Refresh();
    QWidget::showEvent(event);
}

void VoicesView::hideEvent(QHideEvent* event) {
    timer_.stop();
    scope_.reset();
    QWidget::hideEvent(event);
}

void VoicesView::Refresh() {
    if (scope_ && scope_->Follow()) update();
}

void VoicesView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 20, 24));
    if (!scope_) return;
    const int rowHeight = height() / VoiceCount;
    const int traceLeft = LabelWidth;
    const int traceWidth = std::max(1, width() - LabelWidth - LevelWidth - 2 * Gap);
    const int levelLeft = traceLeft + traceWidth + Gap;
    for (int v = 0; v < VoiceCount; ++v) {
        const int top = v * rowHeight;
        const int middle = top + rowHeight / 2;
        const bool muted = scope_->Muted(v);
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

        // The trace: each column's lowest and highest value, around the
        // window's middle value, so that a square wave of any level stands
        // in the row's middle and a silent voice is a flat line there.
        const std::span<const int16_t> window = scope_->Window(v);
        const auto [low, high] = std::minmax_element(window.begin(), window.end());
        const int centre = (int{*low} + int{*high}) / 2;
        const double scale = 0.9 * rowHeight / FullScale(v, player_);
        const auto yOf = [&](int value) {
            return middle - static_cast<int>(std::lround((value - centre) * scale));
        };
        QPolygon trace;
        trace.reserve(2 * traceWidth);
        const size_t count = window.size();
        for (int x = 0; x < traceWidth; ++x) {
            const size_t from = count * static_cast<size_t>(x) / static_cast<size_t>(traceWidth);
            const size_t to = std::max(from + 1, count * static_cast<size_t>(x + 1) /
                                                     static_cast<size_t>(traceWidth));
            const auto [lo, hi] = std::minmax_element(window.begin() + static_cast<ptrdiff_t>(from),
                                                      window.begin() + static_cast<ptrdiff_t>(to));
            trace << QPoint(traceLeft + x, yOf(*hi)) << QPoint(traceLeft + x, yOf(*lo));
        }
        painter.setPen(muted ? QColor(90, 90, 90) : QColor(90, 220, 120));
        painter.drawPolyline(trace);

        // The level: the window's largest magnitude against the voice's top.
        const int barHeight = rowHeight - 2 * Gap;
        const double level = std::min(1.0, double(scope_->Peak(v)) / FullScale(v, player_));
        const int filled = static_cast<int>(std::lround(level * barHeight));
        painter.fillRect(levelLeft, top + Gap, LevelWidth, barHeight, QColor(40, 46, 52));
        painter.fillRect(levelLeft, top + Gap + barHeight - filled, LevelWidth, filled,
                         QColor(230, 190, 70));
    }
}
