#pragma once
// The community's documents: recording pages, singer home pages, the video
// player script, and the publisher's two front pages. All UTF-8.

#include "Catalogue.h"

#include <string>

namespace demo {

std::string recordingPage(const Work &work);
std::string singerPage(const Singer &singer);
std::string playerScript(const Work *work); // nullptr: the script for an unknown video
std::string forumPage();
std::string sitePage();
std::string notFoundPage(const std::string &address);

// Text made safe for HTML element content and attribute values.
std::string htmlEscape(std::string_view text);

} // namespace demo
