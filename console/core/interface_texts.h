#pragma once
// The texts the teacher console shows, each replaceable through the section
// [Language] of the configuration file; missing keys keep the German
// default. This is the console's only means of translation.
//
// Pure C++ so the texts can be loaded and checked without a user interface.

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "console/core/profile_file.h"

namespace saalwacht::console {

inline constexpr std::string_view kLanguageSection = "Language";

// Which property of the target a text sets. Menu items, labels, buttons and
// radio buttons all take a caption; exactly one text is a button hint.
enum class TextProperty {
  Caption,
  Hint,
};

// One [Language] key. An empty `control` means the window itself, i.e. the
// text is the window's title.
struct InterfaceTextKey {
  std::string_view key;
  std::string_view window;
  std::string_view control;
  TextProperty property;
  std::string_view defaultText;  // UTF-8
};

// Every key, in the order the loader reads them. That order matters: where
// two keys set the same control, the later one wins.
std::span<const InterfaceTextKey> interfaceTextKeys();

// The seat actions in menu order; the action list holds the same texts.
inline constexpr std::size_t kSeatActionCount = 8;
inline constexpr std::array<std::string_view, kSeatActionCount> kSeatActionKeys = {
    "PopupMenue_2_1", "BPopupMenue_2_2", "PopupMenue_2_3", "PopupMenue_2_4",
    "PopupMenue_2_5", "PopupMenue_2_6", "PopupMenue_2_7", "PopupMenue_2_8",
};

class InterfaceTexts {
 public:
  // The text read for `key` (the [Language] value, else its default), even
  // when a later key overrides it on the control. Throws std::out_of_range
  // for a name that is not a key of the table; names match exactly.
  const std::string& text(std::string_view key) const;

  // The text that ends up on a control (empty `control`: the window title)
  // after all keys are applied in order. Throws std::out_of_range when no
  // key sets that property.
  const std::string& controlText(std::string_view window,
                                 std::string_view control,
                                 TextProperty property = TextProperty::Caption) const;

  // Entries of the action list `Einzelplatzaktionsauswahlliste`, index =
  // action index, always the seat menu's captions in menu order.
  const std::array<std::string, kSeatActionCount>& actionList() const {
    return actionList_;
  }
  // The item selected in the action list after loading.
  std::size_t selectedAction() const { return selectedAction_; }

 private:
  friend InterfaceTexts loadInterfaceTexts(const ProfileFile& profile);

  struct Applied {
    std::string_view window;
    std::string_view control;
    TextProperty property;
    std::string text;
  };

  std::vector<std::string> texts_;     // parallel to interfaceTextKeys()
  std::vector<Applied> controls_;      // one per distinct target
  std::array<std::string, kSeatActionCount> actionList_;
  std::size_t selectedAction_ = 0;
};

// Reads every key of [Language] in table order. A missing key or section
// gives the default; an empty value gives an empty text. Values are taken as
// ProfileFile reads them (surrounding blanks dropped, quotes keep them).
InterfaceTexts loadInterfaceTexts(const ProfileFile& profile);

}  // namespace saalwacht::console
