#pragma once
// Where the site lives: the values a deployment may change. The window uses the defaults; tests
// point the model at a local stand-in of the site.
#include <string>

struct TSiteSettings {
  // The second-level label of the site's host names; a page address must hold it between dots.
  std::string DomainLabel = "zentavo";
  // The main web address, sent as Referer with every request.
  std::string MainAddress = "https://www.zentavo.com";
  // The play-address interface of ordinary pages, and the API host (episode play addresses, comments).
  std::string InterfaceHost = "https://interface.zentavo.com";
  std::string ApiHost = "https://api.zentavo.com";
};
