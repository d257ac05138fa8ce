#include "start_data.hpp"

#include <memory>

#include "app_identity.hpp"
#include "frm_tovix.hpp"

namespace mirtolk {
namespace {

std::unique_ptr<rt::Form> CreateWindow(const rt::WindowDesc& layout) {
  return std::make_unique<frmTovix>(layout);
}

// Handlers are bound by the runtime to the form it created with CreateWindow.
template <void (frmTovix::*handler)()>
void Run(rt::Form& form) {
  (static_cast<frmTovix&>(form).*handler)();
}

constexpr rt::EventBinding Events[] = {
    {"frmTovix", rt::Event::Load, &Run<&frmTovix::Form_Load>},
    {"Command1", rt::Event::Click, &Run<&frmTovix::Command1_Click>},
};

}  // namespace

const rt::StartData ProgramStart{"mirtolk", frmTovix::Layout, &CreateWindow, Events,
                                 AppId,     Version,          IconFiles};

}  // namespace mirtolk
