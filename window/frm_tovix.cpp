#include "frm_tovix.hpp"

#include "query.hpp"

namespace mirtolk {
namespace {

using enum rt::ControlKind;

// Twips from the client area's top-left corner; 15 twips to a pixel.
constexpr rt::ControlDesc Controls[] = {
    // name, index, kind, caption, Left, Top, Width, Height, tab index, buddy, accessible name
    {"Text1", rt::NoIndex, TextBox, u"", 1680, 690, 1215, 495, 0},
    {"Text2", rt::NoIndex, TextBox, u"", 1680, 1260, 1215, 495, 1},
    {"Command1", rt::NoIndex, CommandButton, u"Calc", 1680, 1830, 1215, 495, 2},
    {"Text3", rt::NoIndex, TextBox, u"", 1680, 2475, 1215, 495, 3, {}, u"Answer"},
    {"Label1", 0, Label, u"White", 660, 855, 720, 255, 4, "Text1"},
    {"Label1", 1, Label, u"Black", 660, 1320, 720, 255, 5, "Text2"},
};

rt::Text ReadBoxText(const rt::TextBox& box) {
  rt::Text text;
  const int status = rt::ReadText(box, text);
  if (status < 0) rt::RaiseStatusError(status, box, rt::TextOperation::Read);
  return text;
}

void WriteBoxText(const rt::TextBox& box, rt::TextView text) {
  const int status = rt::WriteText(box, text);
  if (status < 0) rt::RaiseStatusError(status, box, rt::TextOperation::Write);
}

}  // namespace

const rt::WindowDesc frmTovix::Layout{"frmTovix", u"Mirtolk", 4560, 3030, Controls};

frmTovix::frmTovix(const rt::WindowDesc& layout) : rt::Form(layout) {}

void frmTovix::Form_Load() { BuildGameValue(GameValue); }

void frmTovix::Command1_Click() {
  // "Error" goes up first, so a rejected query never leaves an earlier answer.
  const rt::TextBox text3 = rt::GetControl(*this, "Text3");
  WriteBoxText(text3, ErrorText);

  const rt::Text white = ReadBoxText(rt::GetControl(*this, "Text1"));
  const rt::Text black = ReadBoxText(rt::GetControl(*this, "Text2"));
  if (const auto answer = AnswerQuery(white, black, GameValue)) WriteBoxText(text3, *answer);
}

}  // namespace mirtolk
