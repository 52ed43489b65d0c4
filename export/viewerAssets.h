#pragma once
// The viewer page's template, built from viewer/page.html with viewer/*.css
// and viewer/*.js inlined (CMake generates the definitions at build time).
// The run's data go between the two halves.

extern const char* const kViewerPageHead;
extern const char* const kViewerPageTail;
