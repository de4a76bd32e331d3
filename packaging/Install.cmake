# Installation and the Debian package. The programs and the FLV binder they run live together in a
# private folder: start-up finds the binder files already there and never writes into a system
# folder. bin/ holds relative links to the programs, which still see the private folder as their
# own because the running executable's path is read with the links resolved.
include(GNUInstallDirs)
set(ZV_INSTALL_PRIVATEDIR "lib/zentavo-downloader" CACHE STRING
    "Folder under the prefix that holds the programs and the FLV binder")

set(zv_programs ZentavoDownloader)
if(TARGET zentavo-dl)
  list(APPEND zv_programs zentavo-dl)
endif()
# The programs need no run path of their own (the system's libraries are found without one); linked
# as installed, the install step has no build-tree path to rewrite.
set_target_properties(${zv_programs} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
install(TARGETS ${zv_programs} FlvBind RUNTIME DESTINATION ${ZV_INSTALL_PRIVATEDIR})
install(TARGETS FLVLib LIBRARY DESTINATION ${ZV_INSTALL_PRIVATEDIR})

# The same relative target under any prefix.
file(RELATIVE_PATH zv_bin_to_private /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${ZV_INSTALL_PRIVATEDIR})
file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/install-links)
foreach(program ${zv_programs})
  set(link ${CMAKE_CURRENT_BINARY_DIR}/install-links/${program})
  file(CREATE_LINK ${zv_bin_to_private}/${program} ${link} SYMBOLIC)
  install(FILES ${link} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

set(zv_packaging ${CMAKE_CURRENT_LIST_DIR})
install(FILES ${zv_packaging}/zentavo-downloader.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${zv_packaging}/zentavo-downloader.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 48 256)
  install(FILES ${zv_packaging}/zentavo-downloader-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME zentavo-downloader.png)
endforeach()

set(CPACK_PACKAGE_NAME zentavo-downloader)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zentavo Downloader developers <zentavo-downloader@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "downloader for the videos and comment lists of the Zentavo video site")
set(CPACK_PACKAGE_DESCRIPTION [[
Zentavo视频下载工具 lists the parts of a Zentavo video page, downloads each
part's FLV segments with a multi-item, multi-connection, resumable download
engine, joins them into one FLV file and saves each part's comment list
(弹幕) as XML. A command-line front-end, zentavo-dl, does the same without
a window.]])
set(CPACK_PACKAGE_HOMEPAGE_URL "https://zentavo-downloader.github.io/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library packages come from what the programs link; beyond them the window needs Qt's Chinese
# texts for its standard buttons and menus, and the TLS connections need the system's certificate
# authorities. The Chinese captions need a CJK font to be readable.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei | fonts-wqy-zenhei")
# NTLM sign-in goes through GSSAPI's NTLMSSP mechanism.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gss-ntlmssp")
include(CPack)

# The install test installs what these rules name, so it needs those built, and knows the layout.
if(TARGET test_install)
  add_dependencies(test_install ${zv_programs} FlvBind FLVLib)
  target_compile_definitions(test_install PRIVATE ZV_CMAKE="${CMAKE_COMMAND}" ZV_CPACK="${CMAKE_CPACK_COMMAND}"
                             ZV_BUILD_DIR="${CMAKE_BINARY_DIR}" ZV_PRIVATE_DIR="${ZV_INSTALL_PRIVATEDIR}"
                             $<$<TARGET_EXISTS:zentavo-dl>:ZV_CLI_INSTALLED>)
endif()
