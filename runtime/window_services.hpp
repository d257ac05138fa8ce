// Window services: a small layer over Qt Widgets. It builds a window from its
// description, starts the program with it, runs the handlers bound to the
// window's events, and reads and writes the texts of its boxes.
//
// Nothing here knows what the window is for; the program describes its window
// and binds its handlers in the start data it hands to StartRuntime.
#pragma once

#include <QPointer>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "numbers.hpp"

class QLineEdit;
class QWidget;

namespace mirtolk::rt {

// ---------------------------------------------------------------------------
// A window as data

enum class ControlKind { Label, TextBox, CommandButton };

// The index of a control that does not belong to a control group.
inline constexpr int NoIndex = -1;

// Positions and sizes are in twips; 15 twips make one logical pixel, which
// Qt's high-DPI scaling maps to the screen.
inline constexpr int TwipsPerPixel = 15;

struct ControlDesc {
  std::string_view name;
  int index;  // NoIndex, or the control's place in its group
  ControlKind kind;
  std::u16string_view caption;   // a label's or button's text; a box's text when the window opens
  int left, top, width, height;  // twips, from the client area's top-left corner
  int tab_index;                 // labels keep their place but never take the focus
  std::string_view buddy = {};   // a label: the box it names (focus and screen readers)
  std::u16string_view accessible_name = {};  // a box without a label names it here
};

struct WindowDesc {
  std::string_view name;
  std::u16string_view caption;      // the title
  int client_width, client_height;  // twips
  std::span<const ControlDesc> controls;
};

// A window built from its description. It owns the top-level widget and, through
// Qt's parent/child ownership, every control. A program's window derives from
// it and adds its member data and handlers.
class Form {
 public:
  explicit Form(const WindowDesc& desc);
  virtual ~Form();
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  const WindowDesc& desc() const { return desc_; }
  QWidget* widget() const { return window_.get(); }

  // The control of that name and index, or nullptr.
  QWidget* control(std::string_view name, int index = NoIndex) const;

 private:
  struct Built {
    const ControlDesc* desc;
    QWidget* widget;  // owned by window_
  };

  const WindowDesc& desc_;
  std::unique_ptr<QWidget> window_;
  std::vector<Built> controls_;
};

// ---------------------------------------------------------------------------
// Boxes and their texts

// A reference to a text box as GetControl hands it out. It does not keep the box
// alive: reading or writing a box that is gone fails with a status.
class TextBox {
 public:
  TextBox(std::string name, QLineEdit* box);
  const std::string& name() const { return name_; }
  QLineEdit* get() const;

 private:
  std::string name_;
  QPointer<QLineEdit> box_;
};

// The status of a read or write of a box's text: StatusOk, or negative.
inline constexpr int StatusOk = 0;
inline constexpr int StatusNoControl = -1;    // the box is gone
inline constexpr int StatusOutOfMemory = -2;  // the text could not be copied
inline constexpr int StatusNotStored = -3;    // the box did not take the text as given

// The box of that name in the form; raises a run-time error when the form has no
// text box of that name.
TextBox GetControl(const Form& form, std::string_view name);

// Replaces `text` with the box's whole text, code unit for code unit.
[[nodiscard]] int ReadText(const TextBox& box, Text& text);

// Makes the box show exactly `text`, code unit for code unit.
[[nodiscard]] int WriteText(const TextBox& box, TextView text);

// ---------------------------------------------------------------------------
// Run-time errors

// Numbers of the run-time errors this runtime raises.
inline constexpr int ErrorOutOfMemory = 1;
inline constexpr int ErrorNoControl = 2;
inline constexpr int ErrorTextNotStored = 3;
inline constexpr int ErrorTextOperation = 4;  // any other failed status
inline constexpr int ErrorInternal = 5;       // an unexpected exception left a handler

// Raised inside a handler, it abandons the handler; the runtime reports it and
// ends the program. what() is the report's line: "Run-time error N: description".
class RuntimeError : public std::runtime_error {
 public:
  RuntimeError(int number, const std::string& description);
  int number() const noexcept { return number_; }

 private:
  int number_;
};

enum class TextOperation { Read, Write };

// Raises the run-time error that matches a failed status of a text read or
// write. Never returns.
[[noreturn]] void RaiseStatusError(int status, const TextBox& box, TextOperation operation);

// ---------------------------------------------------------------------------
// Start and events

enum class Event { Load, Click };

// A handler gets the form it was bound in. Handlers have no error handling of
// their own: a RuntimeError leaves them to the runtime.
using Handler = void (*)(Form& form);

struct EventBinding {
  std::string_view source;  // the window's name or a button's name
  Event event;
  Handler handler;
};

struct StartData {
  // The only argument handed to Qt; nothing is read from the command line.
  const char* program_name;
  // The start-up window: its description and how to create it with its member
  // data, which starts out all zero.
  const WindowDesc& startup_window;
  std::unique_ptr<Form> (*create_startup_window)(const WindowDesc& desc);
  std::span<const EventBinding> events;
  // Who the program is to the desktop, for the window switcher and the task
  // bar: its application ID (the name of its desktop entry, without
  // ".desktop"), its version, and its icon as image files Qt reads (resource
  // paths, say), one a size. Left as Qt has them when empty.
  std::string_view app_id = {};
  std::string_view version = {};
  std::span<const char* const> icon_files = {};
};

// How the program ends.
inline constexpr int ExitClosed = 0;        // the user closed the window
inline constexpr int ExitRuntimeError = 1;  // a run-time error ended a handler
inline constexpr int ExitOutOfMemory = 3;   // the start-up window could not be created

// One run of the start-up window, inside an application object that already
// exists. StartRuntime makes one inside its own; tests make one inside theirs.
class Session {
 public:
  explicit Session(const StartData& data);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Creates the window with its member data, raises Load, binds the clicks and
  // shows the window. False when start-up failed: the failure has been reported
  // and exit_status() says how the program ends.
  bool Open();

  Form* form() const { return form_.get(); }

  // Delivers events until the window is closed or a failure has been reported;
  // returns the exit status.
  int Exec();

  // ExitClosed until a failure; after one, no handler runs again.
  int exit_status() const { return exit_status_; }

 private:
  void Dispatch(Handler handler) noexcept;
  void Fail(int status, const char* line) noexcept;

  const StartData& data_;
  // Made up front so that running out of memory can still be reported.
  const std::string out_of_memory_line_;
  std::unique_ptr<Form> form_;
  int exit_status_ = ExitClosed;
  bool executing_ = false;
};

// Creates the application, opens the start-up window, delivers its events, and
// returns the program's exit status once the window is closed or a failure has
// been reported.
int StartRuntime(const StartData& data);

}  // namespace mirtolk::rt
