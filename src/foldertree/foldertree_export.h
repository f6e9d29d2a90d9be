// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// The control is a shared library of its own; only what a host uses is exported.
#if defined(KESTREL_FOLDERTREE_BUILD)
#define KESTREL_FOLDERTREE_EXPORT Q_DECL_EXPORT
#else
#define KESTREL_FOLDERTREE_EXPORT Q_DECL_IMPORT
#endif
