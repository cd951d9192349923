// The window's texts go through gettext, in the "zorflash" domain; N_ marks a text in a table,
// translated where it is shown.
#pragma once

#include <libintl.h>

constexpr char kTextDomain[] = "zorflash";

#define _(text) dgettext(kTextDomain, text)
#define N_(text) text
