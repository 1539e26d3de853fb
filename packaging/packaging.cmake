# What an installation carries beside the programs: the icon (drawn in
# quadrivel.svg, rendered to PNG sizes at build time and built into the
# programs for their windows), the desktop entry, the AppStream metainfo, the
# manual pages, the SQL scripts; the install rules; the Debian package built by
# CPack (./package).

include(GNUInstallDirs)

set(QUADRIVEL_APP_ID fr.quadrivel.quadrivel)
set(packaging_dir "${CMAKE_SOURCE_DIR}/packaging")
set(packaging_out "${CMAKE_BINARY_DIR}/packaging")
file(MAKE_DIRECTORY "${packaging_out}/icons" "${packaging_out}/man")

# The changelog's latest entry is this version's release: it must name the
# project's version, and gives the release date to the metainfo.
file(STRINGS "${packaging_dir}/changelog" changelog_lines ENCODING UTF-8)
list(GET changelog_lines 0 changelog_head)
if(NOT changelog_head MATCHES "^quadrivel \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog begins with \"${changelog_head}\": its latest "
                        "entry must be for version ${PROJECT_VERSION}")
endif()
foreach(line IN LISTS changelog_lines)
    if(line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
        set(release_day ${CMAKE_MATCH_1})
        set(release_year ${CMAKE_MATCH_3})
        set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
        list(FIND months ${CMAKE_MATCH_2} month_index)
        math(EXPR release_month "${month_index} + 1" OUTPUT_FORMAT DECIMAL)
        if(release_month LESS 10)
            set(release_month "0${release_month}")
        endif()
        set(QUADRIVEL_RELEASE_DATE "${release_year}-${release_month}-${release_day}")
        break()
    endif()
endforeach()
if(NOT QUADRIVEL_RELEASE_DATE)
    message(FATAL_ERROR "packaging/changelog: no signature line with a date")
endif()

# The icon, rendered from its drawing at every size of the hicolor theme.
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_svg "${packaging_dir}/quadrivel.svg")
set(icon_pngs)
foreach(size IN ITEMS 16 22 24 32 48 64 128 256)
    set(png "${packaging_out}/icons/quadrivel-${size}.png")
    add_custom_command(OUTPUT "${png}"
                       COMMAND "${RSVG_CONVERT}" --width ${size} --height ${size}
                               --output "${png}" "${icon_svg}"
                       DEPENDS "${icon_svg}" VERBATIM)
    list(APPEND icon_pngs "${png}")
    install(FILES "${png}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps"
            RENAME quadrivel.png)
endforeach()
qt_add_resources(quadrivel_core quadrivel_icons PREFIX /icons BASE "${packaging_out}/icons"
                 FILES ${icon_pngs})
install(FILES "${icon_svg}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps")

# The programs, the SQL scripts an administrator runs, the desktop entry and
# the metainfo.
install(TARGETS quadrivel quadrivel-start quadrivel-report quadrivel-sample
        RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${CMAKE_SOURCE_DIR}/db/schema.sql" "${CMAKE_SOURCE_DIR}/db/roles-postgresql.sql"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/quadrivel")
install(FILES "${packaging_dir}/${QUADRIVEL_APP_ID}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
set(QUADRIVEL_IMPORT_PROVIDED "")
if(TARGET quadrivel-import)
    set(QUADRIVEL_IMPORT_PROVIDED "\n    <binary>quadrivel-import</binary>")
endif()
configure_file("${packaging_dir}/${QUADRIVEL_APP_ID}.metainfo.xml.in"
               "${packaging_out}/${QUADRIVEL_APP_ID}.metainfo.xml" @ONLY)
install(FILES "${packaging_out}/${QUADRIVEL_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")

# Manual pages (section 1, in French) and the changelog, compressed as Debian
# wants them.
set(man_pages quadrivel quadrivel-start quadrivel-report quadrivel-sample)
if(TARGET quadrivel-import)
    install(TARGETS quadrivel-import RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
    list(APPEND man_pages quadrivel-import)
endif()
set(doc_dir "${CMAKE_INSTALL_DATADIR}/doc/quadrivel")
set(compressed)
foreach(page IN LISTS man_pages)
    configure_file("${packaging_dir}/man/${page}.1" "${packaging_out}/man/${page}.1" @ONLY)
    list(APPEND compressed "${packaging_out}/man/${page}.1")
endforeach()
list(APPEND compressed "${packaging_dir}/changelog")
set(compressed_out)
foreach(file IN LISTS compressed)
    get_filename_component(name "${file}" NAME)
    set(gz "${packaging_out}/${name}.gz")
    add_custom_command(OUTPUT "${gz}" COMMAND gzip -9n -c "${file}" > "${gz}"
                       DEPENDS "${file}")
    list(APPEND compressed_out "${gz}")
    if(name STREQUAL "changelog")
        install(FILES "${gz}" DESTINATION "${doc_dir}")
    else()
        install(FILES "${gz}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
    endif()
endforeach()
add_custom_target(quadrivel_docs ALL DEPENDS ${compressed_out})
install(FILES "${packaging_dir}/copyright" DESTINATION "${doc_dir}")

if(QUADRIVEL_TESTS)
    add_test(NAME desktop-entry
             COMMAND desktop-file-validate "${packaging_dir}/${QUADRIVEL_APP_ID}.desktop")
    add_test(NAME metainfo COMMAND appstreamcli validate --no-net --pedantic
                                   "${packaging_out}/${QUADRIVEL_APP_ID}.metainfo.xml")
endif()

# The Debian package: ./package runs CPack on a release build.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quadrivel)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Équipe Quadrivel")
set(CPACK_PACKAGE_CONTACT "Équipe Quadrivel <quadrivel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "sales-reporting desktop tool with French captions")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quadrivel shows the monthly figures of a sales organisation (quote amounts,\n"
    "VAT, margin, reminders, quotes and orders) per sector level, agency,\n"
    "salesperson and supplier, from an SQLite file or a shared PostgreSQL\n"
    "server. Its tracking table copies, exports as CSV, prints and saves PDF;\n"
    "an administrator maintains the levels and their agencies.\n"
    "\n"
    "The menu entry starts quadrivel-start, which opens the database named in\n"
    "/etc/xdg/quadrivel/quadrivel.conf or asks for one. quadrivel-report writes\n"
    "a report as CSV for scripts; quadrivel-sample makes a sample database.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries the programs link come from dpkg-shlibdeps; Qt loads its SQL
# drivers and its French texts at run time, which dpkg-shlibdeps cannot see.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-psql, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
