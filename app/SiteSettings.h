#pragma once
// Where the site lives: the values a deployment may change. The window uses the defaults unless
// ZENTAVO_SITE names one server standing in for the whole site (a demo, a mirror, a test).
#include <string>

struct TSiteSettings {
  // The second-level label of the site's host names; a page address must hold it between dots.
  std::string DomainLabel = "zentavo";
  // The main web address, sent as Referer with every request.
  std::string MainAddress = "https://www.zentavo.com";
  // The play-address interface of ordinary pages, and the API host (episode play addresses, comments).
  std::string InterfaceHost = "https://interface.zentavo.com";
  std::string ApiHost = "https://api.zentavo.com";
  // When set, pages are fetched from here: "https://www.zentavo.com/video/X" becomes
  // PageHost + "/www.zentavo.com/video/X", so the addresses users paste work unchanged.
  std::string PageHost;

  // The address a page is fetched from.
  std::string PageAddress(const std::string& aAddress) const;

  // The defaults, or with ZENTAVO_SITE set (a base address such as "http://127.0.0.1:8080") every
  // request of the site going to that one server.
  static TSiteSettings FromEnvironment();
};
