// IDD_MAIN_DIALOG and IDD_ABOUTBOX. Controls are listed in template order:
// that order is the tab order, so it is kept as it is, not sorted by
// place; new controls go at the end.
#include "res/dialog_template.h"
#include "res/resource.h"
#include "res/window_styles.h"

namespace vs::res {
namespace {

constexpr std::uint32_t kChild = WS_CHILD | WS_VISIBLE;
constexpr std::uint32_t kPushButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr std::uint32_t kDefPushButton = kChild | WS_TABSTOP | BS_DEFPUSHBUTTON;
constexpr std::uint32_t kCheckBox = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr std::uint32_t kEditBox =
    kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr std::uint32_t kLabel = kChild | WS_GROUP | SS_LEFT;
constexpr std::uint32_t kSortedList = kChild | LBS_NOTIFY | LBS_SORT |
                                      LBS_NOINTEGRALHEIGHT | WS_VSCROLL |
                                      WS_BORDER | WS_TABSTOP;

constexpr auto kButton = ControlClass::kButton;
constexpr auto kEdit = ControlClass::kEdit;
constexpr auto kStatic = ControlClass::kStatic;
constexpr auto kListBox = ControlClass::kListBox;

// One control a line, as a template reads.
// clang-format off
const DialogTemplate kMainDialog = {
    IDD_MAIN_DIALOG,
    "Vellumshaper",
    {0, 0, 302, 304},
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME |
        DS_SETFONT,
    WS_EX_APPWINDOW,
    /*extended=*/true,
    "MS Sans Serif",
    8,
    {
        {IDOK, kButton, "OK", {245, 283, 50, 14}, kDefPushButton},
        {IDCANCEL, kButton, "Cancel", {187, 283, 50, 14}, kPushButton},
        {IDC_BROWSE, kButton, "Browse", {245, 22, 50, 12}, kPushButton},
        {IDC_BASE_DIR, kEdit, "", {7, 23, 222, 12}, kEditBox},
        {IDC_STATIC, kStatic, "Base Directory:", {7, 10, 57, 8}, kLabel},
        {IDC_SUBFOLDERS, kButton, "Search Sub Folders", {7, 81, 78, 10}, kCheckBox},
        {IDC_FILES, kListBox, "", {7, 146, 288, 54}, kSortedList},
        {IDC_STATIC, kStatic, "Files:", {7, 134, 96, 8}, kLabel},
        {IDC_STATIC, kStatic, "Changes:", {7, 209, 44, 8}, kLabel},
        {IDC_CHANGES, kListBox, "", {7, 221, 288, 54}, kSortedList},
        {IDC_START, kButton, "Start", {245, 61, 50, 12}, kPushButton},
        {IDC_FIND, kEdit, "", {72, 42, 157, 12}, kEditBox},
        {IDC_REPLACE, kEdit, "", {72, 60, 157, 12}, kEditBox},
        {IDC_STATIC, kStatic, "Find What:", {7, 45, 49, 8}, kLabel},
        {IDC_STATIC, kStatic, "Replace With:", {7, 63, 46, 8}, kLabel},
        {IDC_CHANGE_FILE_NAMES, kButton, "Change Files Name", {7, 98, 77, 10}, kCheckBox},
        {IDC_CHANGE_TEXT, kButton, "Change Text", {101, 98, 68, 10}, kCheckBox},
        {IDC_STATUS, kStatic, "", {105, 134, 190, 8}, kLabel},
        {IDC_PREVIEW, kButton, "Preview", {245, 78, 50, 12}, kPushButton},
        {IDC_UNDO, kButton, "Undo", {245, 95, 50, 12}, kPushButton},
        {IDC_IGNORE_CASE, kButton, "Ignore Case", {7, 115, 56, 10}, kCheckBox},
        {IDC_PRESERVE_CASE, kButton, "Preserve Case", {72, 115, 64, 10}, kCheckBox},
        {IDC_WHOLE_WORD, kButton, "Whole Word", {146, 115, 56, 10}, kCheckBox},
        {IDC_REGEX, kButton, "Regular Expression", {213, 115, 80, 10}, kCheckBox},
    },
};

const DialogTemplate kAboutBox = {
    IDD_ABOUTBOX,
    "About Vellumshaper",
    {0, 0, 235, 55},
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    0,
    /*extended=*/false,
    "MS Sans Serif",
    8,
    {
        {IDC_STATIC, kStatic, "", {11, 17, 20, 20}, kChild | SS_ICON, IDR_MAINFRAME},
        {IDC_STATIC, kStatic, "Vellumshaper Version 1.0", {40, 10, 119, 8}, kLabel | SS_NOPREFIX},
        {IDC_STATIC, kStatic, "Batch find and replace", {40, 25, 119, 8}, kLabel},
        {IDOK, kButton, "OK", {178, 7, 50, 14}, kDefPushButton | WS_GROUP},
    },
};
// clang-format on

}  // namespace

const DialogTemplate* FindDialogTemplate(int id) {
  for (const DialogTemplate* dialog : {&kMainDialog, &kAboutBox})
    if (dialog->id == id) return dialog;
  return nullptr;
}

}  // namespace vs::res
