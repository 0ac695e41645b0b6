// Resource and control identifiers shared by the templates and the code
// that builds and drives the dialogs.
#pragma once

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_MAIN_DIALOG = 102;

// Strings.
inline constexpr int IDS_ABOUTBOX = 101;

// The application icon, 32 x 32 and 16 x 16 pixels.
inline constexpr int IDR_MAINFRAME = 128;

// System-menu command of the About box. System commands keep their four
// low bits for the system, so ids 16 to 31 all mean About.
inline constexpr unsigned IDM_ABOUTBOX = 16;

// Controls. Static labels that code never reaches share IDC_STATIC.
inline constexpr int IDC_STATIC = -1;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_BROWSE = 1000;
inline constexpr int IDC_BASE_DIR = 1001;
inline constexpr int IDC_SUBFOLDERS = 1002;
inline constexpr int IDC_FILES = 1004;
inline constexpr int IDC_CHANGES = 1005;
inline constexpr int IDC_START = 1006;
inline constexpr int IDC_FIND = 1007;
inline constexpr int IDC_REPLACE = 1008;
inline constexpr int IDC_CHANGE_FILE_NAMES = 1009;
inline constexpr int IDC_CHANGE_TEXT = 1011;
// The status line right of the "Files:" label: a run's progress, then how
// it ended.
inline constexpr int IDC_STATUS = 1012;
// Under Start: a dry run of the settings shown.
inline constexpr int IDC_PREVIEW = 1013;
// Under Preview: undoes the latest run not undone yet.
inline constexpr int IDC_UNDO = 1014;
// A row under the check boxes: how Find What is matched.
inline constexpr int IDC_IGNORE_CASE = 1015;
// Only usable with Ignore Case.
inline constexpr int IDC_PRESERVE_CASE = 1016;
inline constexpr int IDC_WHOLE_WORD = 1017;
inline constexpr int IDC_REGEX = 1018;
