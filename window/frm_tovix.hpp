// The program's one window: two counts in, "Calc", the answer or "Error" out.
#pragma once

#include "game_value.hpp"
#include "window_services.hpp"

namespace mirtolk {

class frmTovix final : public rt::Form {
 public:
  // Six controls: Text1 (white), Text2 (black), Command1 "Calc", Text3 (the
  // answer), and the labels Label1(0) "White" and Label1(1) "Black".
  static const rt::WindowDesc Layout;

  explicit frmTovix(const rt::WindowDesc& layout);

  // Load: fills GameValue. Runs once, before the window first shows.
  void Form_Load();
  // Click of Command1: answers the counts in Text1 and Text2 in Text3.
  void Command1_Click();

  const GameValueTable& game_value() const { return GameValue; }

 private:
  GameValueTable GameValue;  // all +0.0 from creation until Form_Load
};

}  // namespace mirtolk
