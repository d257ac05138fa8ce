#include "window_services.hpp"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QStringView>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <limits>
#include <typeinfo>
#include <utility>

#include "window_services_testing.hpp"

namespace mirtolk::rt {
namespace {

// The test seam's fault, armed until it strikes.
int WriteFault = StatusOk;
int WritesBeforeFault = 0;
bool MessageBoxFault = false;

int Pixels(int twips) { return (twips + TwipsPerPixel / 2) / TwipsPerPixel; }

// QStringView copies code units as they are; QString::fromUtf16 would take a
// leading U+FEFF or U+FFFE for a byte order mark and change the text.
QString ToQString(std::u16string_view text) {
  return QStringView(text.data(), static_cast<qsizetype>(text.size())).toString();
}

QString ToQString(std::string_view ascii) {
  return QString::fromUtf8(ascii.data(), static_cast<qsizetype>(ascii.size()));
}

QWidget* MakeControl(const ControlDesc& desc, QWidget* window) {
  switch (desc.kind) {
    case ControlKind::Label: {
      auto* label = new QLabel(ToQString(desc.caption), window);
      label->setFocusPolicy(Qt::NoFocus);
      label->setTextFormat(Qt::PlainText);
      return label;
    }
    case ControlKind::TextBox: {
      auto* box = new QLineEdit(window);
      // A box holds whatever the user enters; Qt would cut it at 32767.
      box->setMaxLength(std::numeric_limits<int>::max());
      box->setText(ToQString(desc.caption));
      return box;
    }
    case ControlKind::CommandButton: {
      auto* button = new QPushButton(ToQString(desc.caption), window);
      // Enter in a box must not press it; Space on it does.
      button->setAutoDefault(false);
      button->setDefault(false);
      return button;
    }
  }
  return nullptr;
}

// Only a person at a real display can see and dismiss a message box; on the
// offscreen and minimal platforms a modal box would hang the program.
bool SomeoneCanSeeTheScreen() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
  const QString platform = QGuiApplication::platformName();
  return platform != u"offscreen" && platform != u"minimal";
}

// Qt's Wayland plugin now and then hangs for good while it takes down its
// connection to the compositor: its event thread waits in
// wl_display_read_events for a read that never comes, and QApplication's
// destructor waits for that thread (seen with Qt 6.4 on Debian 12 and Qt 6.8 on
// Debian 13, about one closed window in ten). So on Wayland, once the window
// and the table are released, the process ends here with its status and leaves
// Qt's own teardown, and LeakSanitizer's final check, to the kernel.
void EndBeforeQtWaylandTeardown(int status) {
  if (QGuiApplication::platformName() != u"wayland") return;
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace

// ---------------------------------------------------------------------------

Form::Form(const WindowDesc& desc) : desc_(desc), window_(std::make_unique<QWidget>()) {
  window_->setObjectName(ToQString(desc.name));
  window_->setWindowTitle(ToQString(desc.caption));
  window_->resize(Pixels(desc.client_width), Pixels(desc.client_height));

  for (const ControlDesc& c : desc.controls) {
    QWidget* widget = MakeControl(c, window_.get());
    widget->setObjectName(ToQString(c.name));
    if (c.index != NoIndex) widget->setProperty("index", c.index);
    widget->setGeometry(Pixels(c.left), Pixels(c.top), Pixels(c.width), Pixels(c.height));
    if (!c.accessible_name.empty()) widget->setAccessibleName(ToQString(c.accessible_name));
    controls_.push_back({&c, widget});
  }

  for (const Built& b : controls_) {
    auto* label = qobject_cast<QLabel*>(b.widget);
    if (label && !b.desc->buddy.empty()) label->setBuddy(control(b.desc->buddy));
  }

  std::vector<Built> focus_order;
  std::copy_if(controls_.begin(), controls_.end(), std::back_inserter(focus_order),
               [](const Built& b) { return b.widget->focusPolicy() != Qt::NoFocus; });
  std::stable_sort(focus_order.begin(), focus_order.end(), [](const Built& a, const Built& b) {
    return a.desc->tab_index < b.desc->tab_index;
  });
  for (std::size_t i = 1; i < focus_order.size(); ++i) {
    QWidget::setTabOrder(focus_order[i - 1].widget, focus_order[i].widget);
  }
  // Taken over when the window is first activated.
  if (!focus_order.empty()) focus_order.front().widget->setFocus();
}

Form::~Form() = default;

QWidget* Form::control(std::string_view name, int index) const {
  for (const Built& b : controls_) {
    if (b.desc->name == name && b.desc->index == index) return b.widget;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------

TextBox::TextBox(std::string name, QLineEdit* box) : name_(std::move(name)), box_(box) {}

QLineEdit* TextBox::get() const { return box_.data(); }

TextBox GetControl(const Form& form, std::string_view name) {
  auto* box = qobject_cast<QLineEdit*>(form.control(name));
  if (box == nullptr) {
    throw RuntimeError(ErrorNoControl, "The window " + std::string(form.desc().name) +
                                           " has no text box " + std::string(name));
  }
  return TextBox(std::string(name), box);
}

int ReadText(const TextBox& box, Text& text) {
  const QLineEdit* edit = box.get();
  if (edit == nullptr) return StatusNoControl;
  try {
    const QString current = edit->text();
    const QStringView units(current);
    text.assign(units.utf16(), static_cast<std::size_t>(units.size()));
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  }
  return StatusOk;
}

int WriteText(const TextBox& box, TextView text) {
  QLineEdit* edit = box.get();
  if (edit == nullptr) return StatusNoControl;
  if (WriteFault != StatusOk && WritesBeforeFault-- == 0) {
    return std::exchange(WriteFault, StatusOk);
  }
  try {
    const QString wanted = ToQString(text);
    edit->setText(wanted);
    if (edit->text() != wanted) return StatusNotStored;
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  }
  return StatusOk;
}

namespace testing {
void SetTextWriteFault(int status, int writes_first) {
  WriteFault = status;
  WritesBeforeFault = writes_first;
}
bool SetMessageBoxFault(bool fail) { return std::exchange(MessageBoxFault, fail); }
}  // namespace testing

// ---------------------------------------------------------------------------

RuntimeError::RuntimeError(int number, const std::string& description)
    : std::runtime_error("Run-time error " + std::to_string(number) + ": " + description),
      number_(number) {}

void RaiseStatusError(int status, const TextBox& box, TextOperation operation) {
  const std::string what = std::string(operation == TextOperation::Read ? "reading" : "writing") +
                           " the text of " + box.name();
  switch (status) {
    case StatusNoControl:
      throw RuntimeError(ErrorNoControl, box.name() + " is gone, " + what);
    case StatusOutOfMemory:
      throw RuntimeError(ErrorOutOfMemory, "Out of memory " + what);
    case StatusNotStored:
      throw RuntimeError(ErrorTextNotStored, box.name() + " did not keep the text written into it");
    default:
      throw RuntimeError(ErrorTextOperation,
                         "Failed " + what + " (status " + std::to_string(status) + ")");
  }
}

// ---------------------------------------------------------------------------

Session::Session(const StartData& data)
    : data_(data), out_of_memory_line_(RuntimeError(ErrorOutOfMemory, "Out of memory").what()) {}

Session::~Session() = default;

bool Session::Open() {
  const WindowDesc& desc = data_.startup_window;
  // Before any window exists, so every window and message box carries them.
  if (!data_.app_id.empty()) QGuiApplication::setDesktopFileName(ToQString(data_.app_id));
  if (!data_.version.empty()) QCoreApplication::setApplicationVersion(ToQString(data_.version));
  if (!data_.icon_files.empty()) {
    QIcon icon;
    for (const char* file : data_.icon_files) icon.addFile(QString::fromUtf8(file));
    QApplication::setWindowIcon(icon);
  }
  try {
    form_ = data_.create_startup_window(desc);
  } catch (const std::bad_alloc& e) {
    // The window's member data says itself what it needed, when it can.
    Fail(ExitOutOfMemory,
         typeid(e) == typeid(std::bad_alloc) ? "Not enough memory to create the window" : e.what());
    return false;
  }

  Handler load = nullptr;
  for (const EventBinding& binding : data_.events) {
    QAbstractButton* button = nullptr;
    if (binding.event == Event::Load && binding.source == desc.name) {
      load = binding.handler;
    } else if (binding.event == Event::Click &&
               (button = qobject_cast<QAbstractButton*>(form_->control(binding.source)))) {
      QObject::connect(button, &QAbstractButton::clicked, button,
                       [this, handler = binding.handler] { Dispatch(handler); });
    } else {
      const RuntimeError error(ErrorInternal, "No event of " + std::string(binding.source) +
                                                  " can be bound in " + std::string(desc.name));
      Fail(ExitRuntimeError, error.what());
      return false;
    }
  }

  // Load runs before the window is first shown, so its work is done before any
  // click can come.
  if (load != nullptr) Dispatch(load);
  if (exit_status_ != ExitClosed) return false;
  form_->widget()->show();
  return true;
}

int Session::Exec() {
  executing_ = true;
  const int status = QApplication::exec();
  executing_ = false;
  return exit_status_ != ExitClosed ? exit_status_ : status;
}

// The handler frame: a run-time error abandons the handler, whose holdings its
// destructors have already released on the way out, and ends the program. No
// exception may go on into Qt's event loop.
void Session::Dispatch(Handler handler) noexcept {
  if (exit_status_ != ExitClosed) return;
  try {
    handler(*form_);
  } catch (const RuntimeError& e) {
    Fail(ExitRuntimeError, e.what());
  } catch (const std::bad_alloc&) {
    Fail(ExitRuntimeError, out_of_memory_line_.c_str());
  } catch (const std::exception& e) {
    try {
      const RuntimeError error(ErrorInternal, e.what());
      Fail(ExitRuntimeError, error.what());
    } catch (const std::bad_alloc&) {
      Fail(ExitRuntimeError, out_of_memory_line_.c_str());
    }
  }
}

void Session::Fail(int status, const char* line) noexcept {
  exit_status_ = status;
  // One stdio call writes the prepared line whole, with no stream state or
  // locale to consult on the way, even with memory exhausted.
  std::fprintf(stderr, "%s\n", line);
  std::fflush(stderr);
  // The box is a courtesy on top of that line. With memory exhausted, building
  // it can throw; the program then goes without it and still ends with its
  // status, rather than terminating here.
  try {
    if (std::exchange(MessageBoxFault, false)) throw std::bad_alloc();
    if (SomeoneCanSeeTheScreen()) {
      QWidget* parent = form_ && form_->widget()->isVisible() ? form_->widget() : nullptr;
      QMessageBox box(QMessageBox::Critical, ToQString(data_.startup_window.caption),
                      QString::fromUtf8(line), QMessageBox::Ok, parent);
      // The words can be selected and copied, for a bug report say.
      box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
      box.exec();
    }
  } catch (...) {
  }
  if (executing_) QCoreApplication::exit(status);
}

int StartRuntime(const StartData& data) {
  // Qt gets the program's name and nothing else.
  std::string name = data.program_name;
  int argc = 1;
  char* argv[] = {name.data(), nullptr};
  QApplication app(argc, argv);

  int status;
  {
    Session session(data);
    status = session.Open() ? session.Exec() : session.exit_status();
  }
  EndBeforeQtWaylandTeardown(status);
  return status;
}

}  // namespace mirtolk::rt
