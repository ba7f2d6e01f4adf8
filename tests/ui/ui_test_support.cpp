#include "ui_test_support.h"

#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <fstream>
#include <sstream>

#include "song/song_list.h"
#include "ui/drag_list_box.h"

namespace {

const char* const kDemoSongs[] = {"01_kirakiraboshi.mid", "02_yorokobi_no_uta.mid",
                                  "03_kaeru_no_gassho.mid"};

}  // namespace

void WindowTest::SetUp() {
    ASSERT_TRUE(m_dir.isValid());
    m_path = m_dir.path().toStdString();
}

void WindowTest::TearDown() {
    if (m_window) {
        m_window->OnDestroy();
        m_window.reset();
    }
}

void WindowTest::OpenWindow() {
    m_window = std::make_unique<TestWindow>(m_service, m_path);
    m_window->OnInitDialog();
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
}

void WindowTest::OpenWithSong(const SmfWriter& song, const std::string& fileName) {
    const std::string path = m_path + "/" + fileName;
    const std::vector<uint8_t> bytes = song.Bytes();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    WriteSongList({path});
    OpenWindow();
    ClickSongRow(0);
}

std::string WindowTest::DemoSong(int n) {
    const std::string target = m_path + "/" + kDemoSongs[n];
    QFile::copy(QString::fromStdString(std::string(PV_SOURCE_DIR) + "/res/demo/" + kDemoSongs[n]),
                QString::fromStdString(target));
    return target;
}

std::string WindowTest::WriteFile(const std::string& name, const std::string& content) {
    const std::string path = m_path + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out << content;
    return path;
}

void WindowTest::WriteSongList(const std::vector<std::string>& paths) {
    SongList list;
    for (const std::string& path : paths) {
        SongEntry entry;
        entry.m_path = path;
        entry.m_title = path.substr(path.rfind('/') + 1);
        entry.m_channels[0].m_practice = 1;
        list.m_entries.push_back(entry);
    }
    ASSERT_TRUE(SaveSongList(list, m_path + "/" + kSongListFileName));
}

std::string WindowTest::ReadFile(const std::string& name) const {
    std::ifstream in(m_path + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WindowTest::FileExists(const std::string& name) const {
    return QFile::exists(QString::fromStdString(m_path + "/" + name));
}

void WindowTest::ClickSongRow(int row) {
    QListWidget* list = m_window->m_songListBox;
    const QRect rect = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

std::vector<std::string> WindowTest::RowTitles() const {
    std::vector<std::string> titles;
    for (int i = 0; i < m_window->m_songListBox->count(); ++i) {
        titles.push_back(m_window->m_songListBox->item(i)->text().toStdString());
    }
    return titles;
}

std::vector<int> WindowTest::RowData() const {
    std::vector<int> data;
    for (int i = 0; i < m_window->m_songListBox->count(); ++i) {
        data.push_back(m_window->m_songListBox->item(i)->data(Qt::UserRole).toInt());
    }
    return data;
}

WhenShown::WhenShown(std::function<QWidget*()> find, std::function<void(QWidget&)> answer)
    : m_find(std::move(find)), m_answer(std::move(answer)), m_timer(new QTimer) {
    m_timer->setInterval(5);
    QObject::connect(m_timer, &QTimer::timeout, [this] {
        QWidget* shown = m_find();
        if (!shown || !shown->isVisible()) {
            return;
        }
        ++m_count;
        QPointer<QWidget> guard(shown);
        m_answer(*shown);
        if (guard && guard->isVisible()) {
            guard->close();
        }
    });
    m_timer->start();
}

WhenShown::~WhenShown() {
    delete m_timer;
}

QWidget* WhenShown::PopupMenu() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

QWidget* WhenShown::ModalDialog() {
    return qobject_cast<QDialog*>(QApplication::activeModalWidget());
}

bool WindowTest::WaitFor(const std::function<bool()>& pred, int ms) {
    return QTest::qWaitFor(pred, ms);
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

int PixelsShownDifferently(QWidget* widget) {
    QWidget* window = widget->window();
    const QPoint at = widget->mapTo(window, QPoint(0, 0));
    const QImage shown =
        widget->screen()
            ->grabWindow(window->winId(), at.x(), at.y(), widget->width(), widget->height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    const QImage whole = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (shown.size() != whole.size()) {
        return -1;
    }
    int count = 0;
    for (int y = 0; y < whole.height(); ++y) {
        for (int x = 0; x < whole.width(); ++x) {
            count += shown.pixel(x, y) != whole.pixel(x, y) ? 1 : 0;
        }
    }
    return count;
}
