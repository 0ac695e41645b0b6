// The window-style bits that the dialog templates use, with their
// conventional values, so a template reads as its style words.
#pragma once

#include <cstdint>

namespace vs::res {

// Every window.
inline constexpr std::uint32_t WS_POPUP = 0x80000000;
inline constexpr std::uint32_t WS_CHILD = 0x40000000;
inline constexpr std::uint32_t WS_VISIBLE = 0x10000000;
inline constexpr std::uint32_t WS_CAPTION = 0x00C00000;
inline constexpr std::uint32_t WS_BORDER = 0x00800000;
inline constexpr std::uint32_t WS_VSCROLL = 0x00200000;
inline constexpr std::uint32_t WS_SYSMENU = 0x00080000;
inline constexpr std::uint32_t WS_GROUP = 0x00020000;
inline constexpr std::uint32_t WS_TABSTOP = 0x00010000;
inline constexpr std::uint32_t WS_EX_APPWINDOW = 0x00040000;

// Dialogs.
inline constexpr std::uint32_t DS_SETFONT = 0x40;
inline constexpr std::uint32_t DS_MODALFRAME = 0x80;

// Buttons: the low four bits are the button's type.
inline constexpr std::uint32_t BS_TYPEMASK = 0x0F;
inline constexpr std::uint32_t BS_PUSHBUTTON = 0x0;
inline constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x1;
inline constexpr std::uint32_t BS_AUTOCHECKBOX = 0x3;

// Edit boxes.
inline constexpr std::uint32_t ES_AUTOHSCROLL = 0x80;

// List boxes.
inline constexpr std::uint32_t LBS_NOTIFY = 0x1;
inline constexpr std::uint32_t LBS_SORT = 0x2;
inline constexpr std::uint32_t LBS_NOINTEGRALHEIGHT = 0x100;

// Statics: the low five bits are the static's type.
inline constexpr std::uint32_t SS_TYPEMASK = 0x1F;
inline constexpr std::uint32_t SS_LEFT = 0x0;
inline constexpr std::uint32_t SS_ICON = 0x3;
inline constexpr std::uint32_t SS_NOPREFIX = 0x80;

}  // namespace vs::res
