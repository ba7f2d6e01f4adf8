#include "ui/ui_state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <limits>
#include <memory>

#include "ui/settings_file_guard.h"

namespace {

const QString kPositionX = QStringLiteral("window/x");
const QString kPositionY = QStringLiteral("window/y");
const QString kWidth = QStringLiteral("window/width");
const QString kHeight = QStringLiteral("window/height");
const QString kViewSpan = QStringLiteral("view/spanMs");
const QString kViewOthersHidden = QStringLiteral("view/othersHidden");
const QString kLastFolder = QStringLiteral("songs/lastFolder");
const QString kLastSong = QStringLiteral("songs/lastSong");
const QString kNoInputHidden = QStringLiteral("notices/noInputHidden");
const QString kMetronome = QStringLiteral("time/metronome");
const QString kCountIn = QStringLiteral("time/countInBars");
const QString kLoopCountIn = QStringLiteral("time/loopCountIn");
const QString kTrainerStart = QStringLiteral("trainer/start");
const QString kTrainerStep = QStringLiteral("trainer/step");
const QString kTrainerGoal = QStringLiteral("trainer/goal");
const QString kTrainerRaiseAt = QStringLiteral("trainer/raiseAt");
const QString kTrainerLowerAt = QStringLiteral("trainer/lowerAt");

// Farther out than any desktop reaches: such a value is damage, not a place.
constexpr int kFarthest = 1000000;

// The part of a title bar that must be on a screen to grab the window by it.
constexpr int kTitleHeight = 24;
constexpr int kTitleGrabWidth = 64;

bool Readable(const QSettings& settings) {
    return settings.status() == QSettings::NoError;
}

// Asked before QSettings opens the file, which it does as it is built.
std::unique_ptr<const QSettings> OpenToRead(const QString& path) {
    if (!SettingsFileUsable(path)) {
        return nullptr;
    }
    auto settings = std::make_unique<const QSettings>(path, QSettings::IniFormat);
    if (!Readable(*settings)) {
        return nullptr;
    }
    return settings;
}

std::optional<int> Coordinate(const QSettings& settings, const QString& key) {
    bool ok = false;
    const int value = settings.value(key).toString().toInt(&ok);
    if (!ok || value < -kFarthest || value > kFarthest) {
        return std::nullopt;
    }
    return value;
}

// A damaged file is dropped before writing, so that nothing of it is carried over.
void WriteValue(const QString& path, const QString& key, const QVariant& value) {
    if (!SettingsFileUsable(path)) {
        return;
    }
    {
        const QSettings probe(path, QSettings::IniFormat);
        if (probe.status() == QSettings::AccessError) {
            return;  // not damaged, only out of reach this time
        }
        if (!Readable(probe)) {
            QFile::remove(path);
        }
    }
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue(key, value);
    settings.sync();
}

}  // namespace

UiState::UiState(QString path) : m_path(path.isEmpty() ? DefaultPath() : std::move(path)) {}

QString UiState::DefaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/pelorvane/pelorvane.conf");
}

std::optional<QPoint> UiState::WindowPosition() const {
    const auto settings = OpenToRead(m_path);
    if (!settings) {
        return std::nullopt;
    }
    const std::optional<int> x = Coordinate(*settings, kPositionX);
    const std::optional<int> y = Coordinate(*settings, kPositionY);
    if (!x || !y) {
        return std::nullopt;
    }
    return QPoint(*x, *y);
}

void UiState::SetWindowPosition(const QPoint& position) {
    WriteValue(m_path, kPositionX, position.x());
    WriteValue(m_path, kPositionY, position.y());
}

std::optional<QSize> UiState::WindowSize() const {
    const auto settings = OpenToRead(m_path);
    if (!settings) {
        return std::nullopt;
    }
    const std::optional<int> w = Coordinate(*settings, kWidth);
    const std::optional<int> h = Coordinate(*settings, kHeight);
    if (!w || !h || *w <= 0 || *h <= 0) {
        return std::nullopt;
    }
    return QSize(*w, *h);
}

void UiState::SetWindowSize(const QSize& size) {
    WriteValue(m_path, kWidth, size.width());
    WriteValue(m_path, kHeight, size.height());
}

std::optional<int> UiState::ViewSpanMs() const {
    const auto settings = OpenToRead(m_path);
    if (!settings) {
        return std::nullopt;
    }
    const std::optional<int> span = Coordinate(*settings, kViewSpan);
    if (!span || *span <= 0) {
        return std::nullopt;
    }
    return span;
}

void UiState::SetViewSpanMs(int spanMs) {
    WriteValue(m_path, kViewSpan, spanMs);
}

bool UiState::ViewOthersHidden() const {
    const auto settings = OpenToRead(m_path);
    return settings && settings->value(kViewOthersHidden).toString() == QLatin1String("1");
}

void UiState::SetViewOthersHidden(bool hidden) {
    WriteValue(m_path, kViewOthersHidden, hidden ? 1 : 0);
}

bool UiState::MetronomeOn() const {
    const auto settings = OpenToRead(m_path);
    return settings && settings->value(kMetronome).toString() == QLatin1String("1");
}

void UiState::SetMetronomeOn(bool on) {
    WriteValue(m_path, kMetronome, on ? 1 : 0);
}

int UiState::CountInBars() const {
    const auto settings = OpenToRead(m_path);
    if (!settings) {
        return 0;
    }
    bool ok = false;
    const int bars = settings->value(kCountIn).toString().toInt(&ok);
    // A damaged value counts in nothing rather than something unexpected.
    return ok && bars >= 0 && bars <= 2 ? bars : 0;
}

void UiState::SetCountInBars(int bars) {
    WriteValue(m_path, kCountIn, bars);
}

bool UiState::LoopCountIn() const {
    const auto settings = OpenToRead(m_path);
    return settings && settings->value(kLoopCountIn).toString() == QLatin1String("1");
}

void UiState::SetLoopCountIn(bool on) {
    WriteValue(m_path, kLoopCountIn, on ? 1 : 0);
}

TrainerPlan UiState::StoredTrainerPlan() const {
    const auto settings = OpenToRead(m_path);
    if (!settings || !settings->contains(kTrainerStart)) {
        return {};
    }
    auto read = [&](const QString& key, int& to) {
        bool ok = false;
        const int value = settings->value(key).toString().toInt(&ok);
        if (ok) {
            to = value;
        }
        return ok;
    };
    TrainerPlan plan;
    const bool whole = read(kTrainerStart, plan.start) && read(kTrainerStep, plan.step) &&
                       read(kTrainerGoal, plan.goal) && read(kTrainerRaiseAt, plan.raiseAt) &&
                       read(kTrainerLowerAt, plan.lowerAt);
    // A damaged plan trains as usual rather than something the learner never set.
    return whole && TrainerPlanError(plan).empty() ? plan : TrainerPlan{};
}

void UiState::SetTrainerPlan(const TrainerPlan& plan) {
    WriteValue(m_path, kTrainerStart, plan.start);
    WriteValue(m_path, kTrainerStep, plan.step);
    WriteValue(m_path, kTrainerGoal, plan.goal);
    WriteValue(m_path, kTrainerRaiseAt, plan.raiseAt);
    WriteValue(m_path, kTrainerLowerAt, plan.lowerAt);
}

QString UiState::LastSongPath() const {
    const QSettings settings(m_path, QSettings::IniFormat);
    return Readable(settings) ? settings.value(kLastSong).toString() : QString();
}

void UiState::SetLastSongPath(const QString& path) {
    WriteValue(m_path, kLastSong, path);
}

bool UiState::NoInputNoticeHidden() const {
    const QSettings settings(m_path, QSettings::IniFormat);
    return Readable(settings) && settings.value(kNoInputHidden).toString() == QLatin1String("1");
}

void UiState::SetNoInputNoticeHidden(bool hidden) {
    WriteValue(m_path, kNoInputHidden, hidden ? 1 : 0);
}

QString UiState::LastSongFolder() const {
    const auto settings = OpenToRead(m_path);
    if (!settings) {
        return {};
    }
    const QString folder = settings->value(kLastFolder).toString();
    if (!QDir::isAbsolutePath(folder) || !QFileInfo(folder).isDir()) {
        return {};
    }
    return folder;
}

void UiState::SetLastSongFolder(const QString& folder) {
    WriteValue(m_path, kLastFolder, folder);
}

QPoint PlaceOnScreens(const QRect& saved, const QList<QRect>& screens) {
    if (screens.isEmpty()) {
        return saved.topLeft();
    }
    const QRect title(saved.left(), saved.top(), saved.width(), qMin(kTitleHeight, saved.height()));
    for (const QRect& screen : screens) {
        const QRect visible = title.intersected(screen);
        if (visible.width() >= qMin(kTitleGrabWidth, title.width()) &&
            visible.height() >= title.height()) {
            return saved.topLeft();
        }
    }
    // The nearest screen by the distance of the window's centre from it.
    const QPoint centre = saved.center();
    const QRect* nearest = &screens.first();
    qint64 best = std::numeric_limits<qint64>::max();
    for (const QRect& screen : screens) {
        const qint64 dx = centre.x() < screen.left()    ? screen.left() - centre.x()
                          : centre.x() > screen.right() ? centre.x() - screen.right()
                                                        : 0;
        const qint64 dy = centre.y() < screen.top()      ? screen.top() - centre.y()
                          : centre.y() > screen.bottom() ? centre.y() - screen.bottom()
                                                         : 0;
        const qint64 distance = dx * dx + dy * dy;
        if (distance < best) {
            best = distance;
            nearest = &screen;
        }
    }
    // Wholly on it; a window larger than the screen keeps its top-left corner on it.
    const int x = qMax(nearest->left(), qMin(saved.left(), nearest->right() + 1 - saved.width()));
    const int y = qMax(nearest->top(), qMin(saved.top(), nearest->bottom() + 1 - saved.height()));
    return QPoint(x, y);
}
