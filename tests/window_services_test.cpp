// The window services on a small window of their own: box texts, the handler
// frame, start-up and how a run ends.
#include "window_services.hpp"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "capture_stderr.hpp"
#include "window_services_testing.hpp"

namespace mirtolk::rt {
namespace {

constexpr ControlDesc ProbeControls[] = {
    {"Box", NoIndex, ControlKind::TextBox, u"start", 150, 150, 1500, 375, 0},
    {"Go", NoIndex, ControlKind::CommandButton, u"Go", 150, 600, 1500, 375, 1},
};
constexpr WindowDesc ProbeLayout{"frmProbe", u"Probe", 3000, 1500, ProbeControls};

// What the handlers saw.
struct Seen {
  int loads = 0;
  int clicks = 0;
  bool visible_at_load = false;
  bool click_finished = false;
};
Seen seen;

class Probe : public Form {
 public:
  explicit Probe(const WindowDesc& layout) : Form(layout) {}
};

std::unique_ptr<Form> CreateProbe(const WindowDesc& layout) {
  return std::make_unique<Probe>(layout);
}

void Load(Form& form) {
  ++seen.loads;
  seen.visible_at_load = form.widget()->isVisible();
}

// Appends "!" to the box, the way a handler uses the services.
void Click(Form& form) {
  ++seen.clicks;
  const TextBox box = GetControl(form, "Box");
  Text text;
  if (const int status = ReadText(box, text); status < 0) {
    RaiseStatusError(status, box, TextOperation::Read);
  }
  text += u'!';
  if (const int status = WriteText(box, text); status < 0) {
    RaiseStatusError(status, box, TextOperation::Write);
  }
  seen.click_finished = true;
}

constexpr EventBinding ProbeEvents[] = {
    {"frmProbe", Event::Load, &Load},
    {"Go", Event::Click, &Click},
};
constexpr StartData ProbeStart{"probe", ProbeLayout, &CreateProbe, ProbeEvents};

// The window's member data could not be had.
struct NoRoomForData : std::bad_alloc {
  const char* what() const noexcept override { return "not enough memory for the probe's data"; }
};
std::unique_ptr<Form> CreateWithoutMemory(const WindowDesc&) { throw NoRoomForData(); }
std::unique_ptr<Form> CreateWithoutAnyMemory(const WindowDesc&) { throw std::bad_alloc(); }

}  // namespace

class WindowServicesTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();
  void textRoundTripsUnchanged_data();
  void textRoundTripsUnchanged();
  void loadRunsOnceBeforeTheWindowShows();
  void failedWriteAbandonsHandlerAndEndsRun_data();
  void failedWriteAbandonsHandlerAndEndsRun();
  void goneBoxFailsWithStatus();
  void noMemoryForWindowIsReported_data();
  void noMemoryForWindowIsReported();
  void closingTheWindowEndsWithZero();
  void runtimeErrorEndsEventLoop();

 private:
  // The probe window, shown; nullptr when it did not come up.
  static std::unique_ptr<Session> open() {
    auto session = std::make_unique<Session>(ProbeStart);
    const bool shown = session->Open() && QTest::qWaitForWindowExposed(session->form()->widget());
    return shown ? std::move(session) : nullptr;
  }
  static QLineEdit* box(const Session& s) {
    return qobject_cast<QLineEdit*>(s.form()->control("Box"));
  }
  static QPushButton* go(const Session& s) {
    return qobject_cast<QPushButton*>(s.form()->control("Go"));
  }
};

void WindowServicesTest::init() { seen = Seen{}; }

void WindowServicesTest::cleanup() { testing::SetTextWriteFault(StatusOk); }

void WindowServicesTest::textRoundTripsUnchanged_data() {
  QTest::addColumn<QString>("text");
  const auto units = [](std::u16string_view s) {
    return QString(reinterpret_cast<const QChar*>(s.data()), qsizetype(s.size()));
  };
  QTest::newRow("digits") << units(u"5000");
  QTest::newRow("empty") << QString();
  QTest::newRow("byte order mark first") << units(u"\uFEFF12");
  QTest::newRow("swapped byte order mark first") << units(u"\uFFFE12");
  QTest::newRow("lone high surrogate") << units(u"1\xD800");
  QTest::newRow("lone low surrogate first") << units(
      u"\xDC00"
      u"1");
  QTest::newRow("NUL inside") << units(
      std::u16string_view(u"1\0"
                          u"2",
                          3));
  QTest::newRow("longer than Qt's default limit") << QString(40000, u'7');
}

// Reading and writing keep every code unit, so the number services see what
// the user typed, whatever it is.
void WindowServicesTest::textRoundTripsUnchanged() {
  QFETCH(QString, text);
  const Text wanted(QStringView(text).utf16(), std::size_t(text.size()));
  auto session = open();
  QVERIFY(session);
  const TextBox ref = GetControl(*session->form(), "Box");

  QCOMPARE(WriteText(ref, wanted), StatusOk);
  QCOMPARE(box(*session)->text(), text);
  Text read = u"old";
  QCOMPARE(ReadText(ref, read), StatusOk);
  QVERIFY(read == wanted);
}

void WindowServicesTest::loadRunsOnceBeforeTheWindowShows() {
  auto session = open();
  QVERIFY(session);
  QCOMPARE(seen.loads, 1);
  QVERIFY(!seen.visible_at_load);
  QVERIFY(session->form()->widget()->isVisible());
  QCOMPARE(session->exit_status(), ExitClosed);
}

void WindowServicesTest::failedWriteAbandonsHandlerAndEndsRun_data() {
  QTest::addColumn<int>("status");
  QTest::addColumn<QString>("report");
  QTest::newRow("not stored") << StatusNotStored
                              << "Run-time error 3: Box did not keep the text written into it";
  QTest::newRow("out of memory") << StatusOutOfMemory
                                 << "Run-time error 1: Out of memory writing the text of Box";
  QTest::newRow("other") << -77 << "Run-time error 4: Failed writing the text of Box (status -77)";
}

void WindowServicesTest::failedWriteAbandonsHandlerAndEndsRun() {
  QFETCH(int, status);
  QFETCH(QString, report);
  auto session = open();
  QVERIFY(session);
  testing::SetTextWriteFault(status);

  mirtolk::testing::CaptureStderr err;
  QTest::mouseClick(go(*session), Qt::LeftButton);
  QCOMPARE(seen.clicks, 1);
  QVERIFY(!seen.click_finished);
  QCOMPARE(box(*session)->text(), u"start");
  QCOMPARE(QString::fromStdString(err.text()), report + '\n');
  QCOMPARE(session->exit_status(), ExitRuntimeError);

  // The program is ending: no handler runs again, even once writes work.
  testing::SetTextWriteFault(StatusOk);
  QTest::mouseClick(go(*session), Qt::LeftButton);
  QCOMPARE(seen.clicks, 1);
}

void WindowServicesTest::goneBoxFailsWithStatus() {
  auto session = open();
  QVERIFY(session);
  const TextBox ref = GetControl(*session->form(), "Box");
  delete box(*session);
  Text text;
  QCOMPARE(ReadText(ref, text), StatusNoControl);
  QCOMPARE(WriteText(ref, u"1"), StatusNoControl);
  try {
    RaiseStatusError(StatusNoControl, ref, TextOperation::Read);
    QFAIL("RaiseStatusError came back");
  } catch (const RuntimeError& e) {
    QCOMPARE(e.number(), ErrorNoControl);
  }
}

void WindowServicesTest::noMemoryForWindowIsReported_data() {
  QTest::addColumn<bool>("dataSaysWhatItNeeded");
  QTest::addColumn<QString>("report");
  QTest::newRow("member data says what it needed")
      << true << "not enough memory for the probe's data";
  QTest::newRow("plain bad_alloc") << false << "Not enough memory to create the window";
}

void WindowServicesTest::noMemoryForWindowIsReported() {
  QFETCH(bool, dataSaysWhatItNeeded);
  QFETCH(QString, report);
  const StartData data{"probe", ProbeLayout,
                       dataSaysWhatItNeeded ? &CreateWithoutMemory : &CreateWithoutAnyMemory,
                       ProbeEvents};
  mirtolk::testing::CaptureStderr err;
  Session session(data);
  QVERIFY(!session.Open());
  QCOMPARE(session.exit_status(), ExitOutOfMemory);
  QCOMPARE(QString::fromStdString(err.text()), report + '\n');
  QCOMPARE(seen.loads, 0);
  QVERIFY(session.form() == nullptr);
}

// The two ways a run ends, through the application's event loop. They come
// last: after that loop has quit, Qt runs no nested event loop in this process.
void WindowServicesTest::closingTheWindowEndsWithZero() {
  auto session = open();
  QVERIFY(session);
  QTimer::singleShot(0, session->form()->widget(), [&] { session->form()->widget()->close(); });
  QCOMPARE(session->Exec(), ExitClosed);
}

void WindowServicesTest::runtimeErrorEndsEventLoop() {
  auto session = open();
  QVERIFY(session);
  testing::SetTextWriteFault(StatusNotStored);
  QWidget* window = session->form()->widget();
  QTimer::singleShot(0, window, [&] { QTest::mouseClick(go(*session), Qt::LeftButton); });
  // Should the error not end the loop, closing the window would give 0.
  QTimer::singleShot(5000, window, [window] { window->close(); });
  mirtolk::testing::CaptureStderr err;
  QCOMPARE(session->Exec(), ExitRuntimeError);
  QVERIFY(err.text().starts_with("Run-time error 3: "));
}

}  // namespace mirtolk::rt

QTEST_MAIN(mirtolk::rt::WindowServicesTest)
#include "window_services_test.moc"
