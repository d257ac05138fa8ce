// The real window, opened the way the program opens it, driven with real key
// and mouse events under the offscreen platform.
#include "frm_tovix.hpp"

#include <malloc.h>

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "built_table.hpp"
#include "numbers.hpp"
#include "start_data.hpp"

namespace mirtolk {
namespace {

// u""_s: the QString literal of Qt 6.4 and later (Qt 6.8 deprecates _qs).
using namespace Qt::StringLiterals;

frmTovix* Created = nullptr;

// The program's own start data, except that the test keeps hold of the window.
std::unique_ptr<rt::Form> CreateAndKeep(const rt::WindowDesc& layout) {
  auto form = ProgramStart.create_startup_window(layout);
  Created = dynamic_cast<frmTovix*>(form.get());
  return form;
}

const rt::StartData TestStart = [] {
  rt::StartData data = ProgramStart;
  data.create_startup_window = &CreateAndKeep;
  return data;
}();

// Under AddressSanitizer malloc is not glibc's and freed memory is held back,
// so neither the heap nor resident memory says whether anything leaks.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool MemoryMeasurable = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool MemoryMeasurable = false;
#else
constexpr bool MemoryMeasurable = true;
#endif
#else
constexpr bool MemoryMeasurable = true;
#endif

// Bytes that malloc has handed out and not had back, mapped chunks included.
long long HeapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<long long>(m.uordblks + m.hblkhd);
}

// Resident memory of this process, in bytes.
long long ResidentBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stoll(line.substr(6)) * 1024;
  }
  return -1;
}

QString FromText(const rt::Text& t) {
  return QString(reinterpret_cast<const QChar*>(t.data()), qsizetype(t.size()));
}

// The last cell the build writes and one in the middle; both hold 0 until then.
bool TableComplete(const GameValueTable& t) {
  return t(MaxCount, MaxCount) == 36.90021846438642 && t(10, 3) == 7.27972027972028;
}

}  // namespace

class FrmTovixTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase();
  void cleanupTestCase();
  void titleAndClientSize();
  void desktopIdentity();
  void controls_data();
  void controls();
  void focusStartsInText1();
  void tabChain();
  void labelsNameTheirBoxes();
  void enterDoesNotPressCalc_data();
  void enterDoesNotPressCalc();
  void spacePressesFocusedCalc();
  void query_data();
  void query();
  void eachClickReplacesText3();
  void resizingKeepsControlsInPlace_data();
  void resizingKeepsControlsInPlace();
  void tableCompleteWhenWindowFirstShows();
  void tenThousandClicks();
  void longAndOddTexts_data();
  void longAndOddTexts();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* control(const char* name, int index = rt::NoIndex) const {
    return session_->form()->control(name, index);
  }
  QLineEdit* box(const char* name) const { return qobject_cast<QLineEdit*>(control(name)); }
  QPushButton* calc() const { return qobject_cast<QPushButton*>(control("Command1")); }
  // Replaces a box's text the way a person pastes one: select all, Ctrl+V.
  static void pasteInto(QLineEdit* box, const QString& text) {
    QGuiApplication::clipboard()->setText(text);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
  }
  // Replaces a box's text the way a person does: select all, type.
  static void typeInto(QLineEdit* box, const QString& text) {
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
  }

  std::unique_ptr<rt::Session> session_;
  QWidget* window_ = nullptr;
  bool shown_ = false;
  bool table_complete_at_show_ = false;
};

bool FrmTovixTest::eventFilter(QObject* watched, QEvent* event) {
  if (!shown_ && event->type() == QEvent::Show && watched->objectName() == u"frmTovix") {
    shown_ = true;
    table_complete_at_show_ = Created != nullptr && TableComplete(Created->game_value());
  }
  return QObject::eventFilter(watched, event);
}

void FrmTovixTest::initTestCase() {
  qApp->installEventFilter(this);
  session_ = std::make_unique<rt::Session>(TestStart);
  QVERIFY(session_->Open());
  window_ = session_->form()->widget();
  QVERIFY(QTest::qWaitForWindowActive(window_));
}

void FrmTovixTest::cleanupTestCase() {
  qApp->removeEventFilter(this);
  session_.reset();
}

void FrmTovixTest::titleAndClientSize() {
  QCOMPARE(window_->windowTitle(), u"Mirtolk");
  QCOMPARE(window_->size(), QSize(304, 202));  // 4560 x 3030 twips
  QCOMPARE(window_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).size(), 6);
}

// The task bar and window switcher find the desktop entry by this name and
// show the window's own icon, which must be there in every drawn size.
void FrmTovixTest::desktopIdentity() {
  QCOMPARE(QGuiApplication::desktopFileName(), u"io.github.mirtolk.Mirtolk");
  const QIcon icon = window_->windowIcon();
  QVERIFY(!icon.isNull());
  for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
    QVERIFY2(icon.availableSizes().contains(QSize(size, size)), qPrintable(QString::number(size)));
    QVERIFY(!icon.pixmap(size).isNull());
  }
}

void FrmTovixTest::controls_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<int>("index");
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("text");
  QTest::addColumn<QRect>("geometry");  // logical pixels: twips / 15

  QTest::newRow("Text1") << "Text1" << rt::NoIndex << "QLineEdit"
                         << "" << QRect(112, 46, 81, 33);
  QTest::newRow("Text2") << "Text2" << rt::NoIndex << "QLineEdit"
                         << "" << QRect(112, 84, 81, 33);
  QTest::newRow("Command1") << "Command1" << rt::NoIndex << "QPushButton"
                            << "Calc" << QRect(112, 122, 81, 33);
  QTest::newRow("Text3") << "Text3" << rt::NoIndex << "QLineEdit"
                         << "" << QRect(112, 165, 81, 33);
  QTest::newRow("Label1(0)") << "Label1" << 0 << "QLabel"
                             << "White" << QRect(44, 57, 48, 17);
  QTest::newRow("Label1(1)") << "Label1" << 1 << "QLabel"
                             << "Black" << QRect(44, 88, 48, 17);
}

void FrmTovixTest::controls() {
  QFETCH(QString, name);
  QFETCH(int, index);
  QFETCH(QString, kind);
  QFETCH(QString, text);
  QFETCH(QRect, geometry);

  const QWidget* w = control(name.toLatin1().constData(), index);
  QVERIFY(w != nullptr);
  QCOMPARE(w->metaObject()->className(), kind);
  QCOMPARE(w->property("text").toString(), text);
  QCOMPARE(w->geometry(), geometry);
  QVERIFY(w->isVisible());
}

void FrmTovixTest::focusStartsInText1() { QCOMPARE(QApplication::focusWidget(), control("Text1")); }

void FrmTovixTest::tabChain() {
  const QWidget* forward[] = {control("Text1"), control("Text2"), control("Command1"),
                              control("Text3"), control("Text1")};
  control("Text1")->setFocus();
  for (const QWidget* next : forward) {
    QCOMPARE(QApplication::focusWidget(), next);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  const QWidget* backward[] = {control("Text3"), control("Command1"), control("Text2"),
                               control("Text1"), control("Text3")};
  control("Text1")->setFocus();
  for (const QWidget* previous : backward) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), previous);
  }
}

void FrmTovixTest::labelsNameTheirBoxes() {
  auto* white = qobject_cast<QLabel*>(control("Label1", 0));
  auto* black = qobject_cast<QLabel*>(control("Label1", 1));
  QCOMPARE(white->buddy(), control("Text1"));
  QCOMPARE(black->buddy(), control("Text2"));
  QCOMPARE(white->focusPolicy(), Qt::NoFocus);
  QCOMPARE(black->focusPolicy(), Qt::NoFocus);

  // What a screen reader announces for each box.
  const auto name = [](QWidget* w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
  };
  QCOMPARE(name(control("Text1")), u"White");
  QCOMPARE(name(control("Text2")), u"Black");
  QVERIFY(!name(control("Text3")).isEmpty());
}

void FrmTovixTest::enterDoesNotPressCalc_data() {
  QTest::addColumn<QString>("box");
  QTest::addColumn<int>("key");
  QTest::newRow("Return in Text1") << "Text1" << int(Qt::Key_Return);
  QTest::newRow("Enter in Text2") << "Text2" << int(Qt::Key_Enter);
  QTest::newRow("Return in Text3") << "Text3" << int(Qt::Key_Return);
}

void FrmTovixTest::enterDoesNotPressCalc() {
  QFETCH(QString, box);
  QFETCH(int, key);
  typeInto(this->box("Text1"), "10");
  typeInto(this->box("Text2"), "3");
  typeInto(this->box("Text3"), "kept");
  QLineEdit* target = this->box(box.toLatin1().constData());
  target->setFocus();
  QTest::keyClick(target, Qt::Key(key));
  QCOMPARE(this->box("Text3")->text(), u"kept");
  QVERIFY(!calc()->isDefault() && !calc()->autoDefault());
}

void FrmTovixTest::spacePressesFocusedCalc() {
  typeInto(box("Text1"), "10");
  typeInto(box("Text2"), "3");
  QTest::keyClick(box("Text2"), Qt::Key_Tab);
  QCOMPARE(QApplication::focusWidget(), calc());
  QTest::keyClick(calc(), Qt::Key_Space);
  QCOMPARE(box("Text3")->text(), u"7.279720");
}

void FrmTovixTest::query_data() {
  QTest::addColumn<QString>("white");
  QTest::addColumn<QString>("black");
  QTest::addColumn<QString>("typedIntoText3");
  QTest::addColumn<QString>("shown");

  QTest::newRow("10 white, 3 black") << "10"
                                     << "3"
                                     << ""
                                     << "7.279720";
  QTest::newRow("white is the first index") << "3"
                                            << "10"
                                            << ""
                                            << "0.000000";
  QTest::newRow("both at the limit") << "5000"
                                     << "5000"
                                     << ""
                                     << "36.900218";
  QTest::newRow("spaced, signed, fractional") << " +9.6 "
                                              << "3"
                                              << ""
                                              << "7.279720";
  QTest::newRow("not a number") << "abc"
                                << "3"
                                << ""
                                << "Error";
  QTest::newRow("just above the limit") << "5000.4"
                                        << "0"
                                        << ""
                                        << "Error";
  QTest::newRow("below the border") << "0"
                                    << "-2"
                                    << ""
                                    << "Error";
  QTest::newRow("typed answer replaced") << "1"
                                         << "1"
                                         << "my own note"
                                         << "0.500000";
  QTest::newRow("typed text replaced by Error") << ""
                                                << ""
                                                << "my own note"
                                                << "Error";
}

void FrmTovixTest::query() {
  QFETCH(QString, white);
  QFETCH(QString, black);
  QFETCH(QString, typedIntoText3);
  QFETCH(QString, shown);

  typeInto(box("Text1"), white);
  typeInto(box("Text2"), black);
  typeInto(box("Text3"), typedIntoText3);
  QTest::mouseClick(calc(), Qt::LeftButton);

  QCOMPARE(box("Text3")->text(), shown);
  // The query reads the inputs and never rewrites them.
  QCOMPARE(box("Text1")->text(), white);
  QCOMPARE(box("Text2")->text(), black);
}

void FrmTovixTest::eachClickReplacesText3() {
  typeInto(box("Text1"), "10");
  typeInto(box("Text2"), "3");
  QTest::mouseClick(calc(), Qt::LeftButton);
  QCOMPARE(box("Text3")->text(), u"7.279720");
  QTest::mouseClick(calc(), Qt::LeftButton);
  QCOMPARE(box("Text3")->text(), u"7.279720");

  typeInto(box("Text2"), "3x");
  QTest::mouseClick(calc(), Qt::LeftButton);
  QCOMPARE(box("Text3")->text(), u"Error");

  typeInto(box("Text2"), "10");
  QTest::mouseClick(calc(), Qt::LeftButton);
  QCOMPARE(box("Text3")->text(), u"1.607228");
}

void FrmTovixTest::resizingKeepsControlsInPlace_data() {
  QTest::addColumn<QSize>("size");
  QTest::newRow("larger") << QSize(700, 500);
  QTest::newRow("smaller") << QSize(150, 90);
}

void FrmTovixTest::resizingKeepsControlsInPlace() {
  QFETCH(QSize, size);
  const auto children = window_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
  QList<QRect> before;
  for (const QWidget* c : children) before << c->geometry();

  const QSize original = window_->size();
  window_->resize(size);
  QTRY_COMPARE(window_->size(), size);
  for (qsizetype i = 0; i < children.size(); ++i) {
    QCOMPARE(children[i]->geometry(), before[i]);
  }
  window_->resize(original);
  QTRY_COMPARE(window_->size(), original);
}

void FrmTovixTest::tableCompleteWhenWindowFirstShows() {
  QVERIFY(shown_);
  QVERIFY(table_complete_at_show_);
}

// Many clicks in a row, each with other counts: every answer must be the one
// the table holds, and memory must not grow. The counts are put into the
// boxes whole, as a paste would: typed key by key they would grow each box's
// undo history, which Qt keeps in full, and hide what the clicks do.
void FrmTovixTest::tenThousandClicks() {
  const GameValueTable& table = test::BuiltTable();  // built apart from the window's
  const QString rejected[] = {"", "abc", "12x", "5000.4", "-2", "5001", "1e4"};
  std::uint32_t seed = 2024;
  const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
  // A count from -1 to 5000, or one time in eight a text the query rejects
  // (nullopt).
  const auto pick = [&](QString& text) -> std::optional<int> {
    const std::uint32_t r = next();
    if (r % 8 == 0) {
      text = rejected[r / 8 % std::size(rejected)];
      return std::nullopt;
    }
    const int count = int(r / 8 % (MaxCount + 2)) - 1;
    text = QString::number(count);
    return count;
  };

  constexpr int Clicks = 10000, WarmUp = 1000;
  long long rss_warm = 0, heap_warm = 0;
  for (int click = 1; click <= Clicks; ++click) {
    QString white, black;
    const auto w = pick(white);
    const auto b = pick(black);
    box("Text1")->setText(white);
    box("Text2")->setText(black);
    QTest::mouseClick(calc(), Qt::LeftButton);

    const QString expected =
        w && b ? FromText(rt::FormatByPattern(table(*w, *b), u"0.000000")) : u"Error"_s;
    if (box("Text3")->text() != expected) {
      QFAIL(qPrintable(
          u"click %1: white '%2', black '%3' showed '%4', expected '%5'"_s.arg(click).arg(
              white, black, box("Text3")->text(), expected)));
    }
    if (click == WarmUp) {
      rss_warm = ResidentBytes();
      heap_warm = HeapInUse();
    }
  }

  if (!MemoryMeasurable) {
    qInfo(
        "memory not measured: AddressSanitizer's allocator holds freed memory back; "
        "LeakSanitizer looks for leaks at exit instead");
    return;
  }
  // Flat to within a few hundred bytes and a few pages when nothing leaks;
  // 8 bytes a click would already exceed the heap's slack.
  QCOMPARE_LE(HeapInUse() - heap_warm, 64 * 1024);
  QCOMPARE_LE(ResidentBytes() - rss_warm, 1024 * 1024);
}

void FrmTovixTest::longAndOddTexts_data() {
  QTest::addColumn<QString>("white");
  QTest::addColumn<QString>("black");
  QTest::addColumn<QString>("shown");
  QTest::newRow("32,767 nines, white") << QString(32767, u'9') << "3"
                                       << "Error";
  QTest::newRow("32,767 nines, black") << "10" << QString(32767, u'9') << "Error";
  QTest::newRow("32,767 letters") << QString(32767, u'x') << "3"
                                  << "Error";
  QTest::newRow("1,000,000 nines") << QString(1000000, u'9') << "3"
                                   << "Error";
  // Read whole, not cut where Qt's boxes stop by default (32,767).
  QTest::newRow("40,000 digits, 10 at the end") << QString(39998, u'0') + "10"
                                                << "3"
                                                << "7.279720";

  // Every control character but the tab, which counts as a blank around a
  // count, spoils the count it follows; so do a right-to-left override and
  // lone surrogates.
  for (char16_t c = 0; c < 0x20; ++c) {
    if (c == u'\t') continue;
    QTest::addRow("10 then U+%04X", unsigned(c)) << u"10"_s + QChar(c) << "3"
                                                 << "Error";
  }
  QTest::newRow("10 then a tab") << "10\t"
                                 << "3"
                                 << "7.279720";
  const QChar rlo(0x202E), high(0xD800), low(0xDC00);
  QTest::newRow("right-to-left override first") << rlo + u"10"_s << "3"
                                                << "Error";
  QTest::newRow("lone high surrogate last") << "10" << u"3"_s + high << "Error";
  QTest::newRow("lone low surrogate first") << low + u"10"_s << "3"
                                            << "Error";
  QString controls;
  for (char16_t c = 0; c < 0x20; ++c) controls += QChar(c);
  controls += rlo;
  controls += high;
  controls += low;
  QString full;
  while (full.size() < 32767) full += controls;
  full.truncate(32767);
  QTest::newRow("32,767 control characters") << full << full << "Error";
}

// Whatever a person pastes, however long, "Calc" answers at once: the texts
// are read in one pass each (CTest's timeout is the guard against anything
// slower). Pasted, because a box takes any code unit that way.
void FrmTovixTest::longAndOddTexts() {
  QFETCH(QString, white);
  QFETCH(QString, black);
  QFETCH(QString, shown);

  typeInto(box("Text3"), "before");
  pasteInto(box("Text1"), white);
  pasteInto(box("Text2"), black);
  QCOMPARE(box("Text1")->text(), white);
  QCOMPARE(box("Text2")->text(), black);
  QTest::mouseClick(calc(), Qt::LeftButton);
  QCOMPARE(box("Text3")->text(), shown);
}

}  // namespace mirtolk

QTEST_MAIN(mirtolk::FrmTovixTest)
#include "frm_tovix_test.moc"
