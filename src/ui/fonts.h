#pragma once

// The windows ask for their fonts by the names they were designed with. Where those fonts are
// not installed, the closest installed Japanese fonts stand in: proportional IPA P Gothic for the
// proportional faces, so captions keep the widths they were laid out for.
void InstallFontSubstitutes();
