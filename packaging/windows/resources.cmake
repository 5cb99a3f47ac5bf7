# The Windows resources of a program (icon, manifest, version information) from the files beside
# this one: glimmerly_windows_resources(<target>) compiles them with windres into <target>.
set(GLIMMERLY_WINDOWS_PACKAGING ${CMAKE_CURRENT_LIST_DIR})

function(glimmerly_windows_resources target)
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
    # Windows counts four parts: 3.2 -> 3.2.0.0.
    set(parts ${PROJECT_VERSION_MAJOR} ${PROJECT_VERSION_MINOR})
    foreach(part ${PROJECT_VERSION_PATCH} ${PROJECT_VERSION_TWEAK})
        list(APPEND parts ${part})
    endforeach()
    list(LENGTH parts count)
    while(count LESS 4)
        list(APPEND parts 0)
        list(LENGTH parts count)
    endwhile()
    list(JOIN parts "." GLIMMERLY_VERSION4)
    list(JOIN parts "," GLIMMERLY_VERSION_COMMAS)

    # The icon from the same pictures as the desktop's icons on Linux.
    set(pngs)
    foreach(size 16 24 32 48 64 256)
        list(APPEND pngs ${PROJECT_SOURCE_DIR}/packaging/icons/${size}x${size}.png)
    endforeach()
    set(GLIMMERLY_ICON ${dir}/glimmerly.ico)
    find_package(Python3 REQUIRED COMPONENTS Interpreter)
    add_custom_command(OUTPUT ${GLIMMERLY_ICON}
        COMMAND Python3::Interpreter ${GLIMMERLY_WINDOWS_PACKAGING}/make_icon.py ${GLIMMERLY_ICON} ${pngs}
        DEPENDS ${GLIMMERLY_WINDOWS_PACKAGING}/make_icon.py ${pngs} VERBATIM)

    set(GLIMMERLY_MANIFEST ${dir}/glimmerly.manifest)
    configure_file(${GLIMMERLY_WINDOWS_PACKAGING}/glimmerly.manifest ${GLIMMERLY_MANIFEST} @ONLY)
    configure_file(${GLIMMERLY_WINDOWS_PACKAGING}/glimmerly.rc.in ${dir}/glimmerly.rc @ONLY)
    # windres reads the icon and the manifest only when it compiles; tell the build about them.
    set_source_files_properties(${dir}/glimmerly.rc PROPERTIES
        OBJECT_DEPENDS "${GLIMMERLY_ICON};${GLIMMERLY_MANIFEST}")
    target_sources(${target} PRIVATE ${dir}/glimmerly.rc)
endfunction()
