# Install rules, the help PDF and the Debian package.

install(FILES ${PROJECT_SOURCE_DIR}/packaging/vellum.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vellum.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vellum.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The service that keeps an office for other machines; its ExecStart finds the program on systemd's own path.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vellum-office-server.service DESTINATION lib/systemd/system)
# The AppStream description of the program, for software centres.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/org.vellum.Converter.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
# A user service for a watched folder, one instance per project file.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/vellum-watch@.service DESTINATION lib/systemd/user)
# The help PDF exists once the help_pdf target has run; a build without an office installs without it.
install(FILES ${PROJECT_BINARY_DIR}/vellum.pdf DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)

# The help as one HTML page, made by every build (no office needed) beside the program, where F1 finds it in
# a build tree, and installed to the documentation folder, where F1 finds it once installed.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(
  OUTPUT ${PROJECT_BINARY_DIR}/vellum.html
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/help2html.py ${PROJECT_SOURCE_DIR}/docs/help/help.md
          ${PROJECT_BINARY_DIR}/vellum.html
  DEPENDS ${PROJECT_SOURCE_DIR}/docs/help/help.md ${PROJECT_SOURCE_DIR}/tools/help2html.py
  COMMENT "Making the help page vellum.html"
  VERBATIM)
add_custom_target(help_html ALL DEPENDS ${PROJECT_BINARY_DIR}/vellum.html)
install(FILES ${PROJECT_BINARY_DIR}/vellum.html DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The help text as a PDF, converted by the program itself (it needs the office).
if(TARGET vellum_office)
  set(VELLUM_HELP_DECK ${PROJECT_BINARY_DIR}/help/vellum.fodp)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/vellum.pdf
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/help
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/help2fodp.py ${PROJECT_SOURCE_DIR}/docs/help/help.md
            ${VELLUM_HELP_DECK}
    COMMAND $<TARGET_FILE:vellum> "-P:Source=${VELLUM_HELP_DECK};Target=${PROJECT_BINARY_DIR};PureConsole=True;IsOverwrite=True"
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/help/help.md ${PROJECT_SOURCE_DIR}/tools/help2fodp.py vellum
    COMMENT "Converting the help text to vellum.pdf"
    VERBATIM)
  add_custom_target(help_pdf DEPENDS ${PROJECT_BINARY_DIR}/vellum.pdf)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vellum)
set(CPACK_PACKAGE_VENDOR "Vellum Converter developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Convert folders of presentations to PDF files in batch")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vellum Converter developers <vellum@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION office)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libreoffice-core, libreoffice-impress-nogui | libreoffice-impress, libuno-cppu3, libuno-sal3, libuno-cppuhelpergcc3-3, libuno-salhelpergcc3-3, libqt6core6, libqt6network6, libqt6gui6, libqt6widgets6, libqt6dbus6, libc6, libstdc++6, xdg-utils")
# Qt's own texts (file dialogs, About Qt) in the person's language.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, qt6-translations-l10n")
include(CPack)
