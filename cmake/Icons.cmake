# Toolbar images. Sources: one SVG per image under resources/icons/<set>/, named NN-name.svg where NN
# is the image index (two digits, from 00, no gaps). Each set is drawn at every size of ICON_SIZES and
# becomes, per size S, two horizontal strips of S x S images (N x S wide, S high) that
# resources/ZorbexGUI.rc embeds as BITMAP resources; an image has the same index at every size:
#
#   resources/icons/main/        -> MainImages<S>.bmp, MainHotImages<S>.bmp          (19 images)
#   resources/icons/quicklinks/  -> QuickLinkImages<S>.bmp, QuickLinkHotImages<S>.bmp (3 images)
#
# A toolbar form picks the size that fits its text scale (TForm::ImageSize).
#
# The SVGs are drawn in full colour and give the hot images (under the mouse) as they stand. The
# normal images are the same pictures muted: saturation down to ICON_NORMAL_SATURATION per cent
# (ImageMagick -modulate 100,S,100; lightness and hue unchanged). Changing an icon means editing its
# one SVG and rebuilding; only that SVG is rendered again, then the strips and the resources.
#
# Strip format: 32-bit BI_RGB bottom-up BMP with a BITMAPINFOHEADER; the fourth byte of every pixel is
# its alpha, straight (not premultiplied), as image lists created with ILC_COLOR32 take it. Fully
# transparent pixels are black (0, 0, 0, 0).
#
# Rasteriser: rsvg-convert (librsvg2-bin); packing: ImageMagick. Both installed by tools/setup.sh.
# tools/icons_sheet.sh draws the built strips enlarged into a contact sheet (target icons_sheet).

set(ICON_RSVG_CONVERT /usr/bin/rsvg-convert)
set(ICON_IM_CONVERT /usr/bin/convert)
foreach(tool ${ICON_RSVG_CONVERT} ${ICON_IM_CONVERT})
    if(NOT EXISTS ${tool})
        message(FATAL_ERROR "${tool} is missing: run tools/setup.sh")
    endif()
endforeach()

set(ICON_SIZES 16 20 24 32)
set(ICON_NORMAL_SATURATION 50)
set(ICON_SOURCE_DIR ${CMAKE_SOURCE_DIR}/resources/icons)
set(ICON_WORK_DIR ${GEN_DIR}/icons)
set(ZORBEX_ICON_STRIPS "")

# zorbex_icon_strips(<set> <image count> <normal strip> <hot strip>): renders resources/icons/<set>/*.svg
# at every size S of ICON_SIZES and packs them into ${GEN_DIR}/<normal strip><S>.bmp and
# ${GEN_DIR}/<hot strip><S>.bmp.
function(zorbex_icon_strips set count normal hot)
    file(GLOB svgs CONFIGURE_DEPENDS ${ICON_SOURCE_DIR}/${set}/*.svg)
    list(SORT svgs)
    list(LENGTH svgs found)
    if(NOT found EQUAL count)
        message(FATAL_ERROR "resources/icons/${set}: ${count} images expected, ${found} SVG files found")
    endif()
    # -alpha background blacks out the colour of fully transparent pixels; bmp3:alpha keeps the
    # fourth byte (a BMP3 without it is written with 24 bits).
    set(bmp_options -background none -alpha set -alpha background -define bmp3:alpha=true)
    set(strips "")
    foreach(size IN LISTS ICON_SIZES)
        file(MAKE_DIRECTORY ${ICON_WORK_DIR}/${set}/${size})
        set(pngs "")
        set(index 0)
        foreach(svg IN LISTS svgs)
            get_filename_component(name ${svg} NAME_WE)
            if(index LESS 10)
                set(prefix "0${index}")
            else()
                set(prefix "${index}")
            endif()
            if(NOT name MATCHES "^${prefix}-")
                message(FATAL_ERROR "resources/icons/${set}/${name}.svg: image ${index} must be named ${prefix}-<name>.svg")
            endif()
            set(png ${ICON_WORK_DIR}/${set}/${size}/${name}.png)
            add_custom_command(
                OUTPUT ${png}
                COMMAND ${ICON_RSVG_CONVERT} --width ${size} --height ${size} --format png --output ${png} ${svg}
                DEPENDS ${svg}
                COMMENT "rsvg-convert icons/${set}/${name}.svg at ${size} pixels"
                VERBATIM)
            list(APPEND pngs ${png})
            math(EXPR index "${index} + 1")
        endforeach()

        add_custom_command(
            OUTPUT ${GEN_DIR}/${hot}${size}.bmp ${GEN_DIR}/${normal}${size}.bmp
            COMMAND ${ICON_IM_CONVERT} ${pngs} +append ${bmp_options} BMP3:${GEN_DIR}/${hot}${size}.bmp
            COMMAND ${ICON_IM_CONVERT} ${pngs} +append -modulate 100,${ICON_NORMAL_SATURATION},100
                    ${bmp_options} BMP3:${GEN_DIR}/${normal}${size}.bmp
            DEPENDS ${pngs} ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
            COMMENT "Toolbar image strips ${normal}${size}.bmp, ${hot}${size}.bmp"
            VERBATIM)
        list(APPEND strips ${GEN_DIR}/${normal}${size}.bmp ${GEN_DIR}/${hot}${size}.bmp)
    endforeach()
    set(ZORBEX_ICON_STRIPS ${ZORBEX_ICON_STRIPS} ${strips} PARENT_SCOPE)
endfunction()

zorbex_icon_strips(main 19 MainImages MainHotImages)
zorbex_icon_strips(quicklinks 3 QuickLinkImages QuickLinkHotImages)
add_custom_target(zorbex_icons DEPENDS ${ZORBEX_ICON_STRIPS})

# Contact sheet of the built strips (not part of the default build): build/icons-sheet.png.
add_custom_target(icons_sheet
    COMMAND ${CMAKE_SOURCE_DIR}/tools/icons_sheet.sh ${GEN_DIR} ${CMAKE_BINARY_DIR}/icons-sheet.png
    DEPENDS zorbex_icons
    COMMENT "Contact sheet build/icons-sheet.png"
    VERBATIM)

# Every target that compiles resources/ZorbexGUI.rc (the library and the test programs, in whichever
# directory) waits for the strips and compiles the resources again when a strip changes. Run once the
# top-level directory is read, so that the targets of every subdirectory exist.
function(zorbex_icons_attach)
    set(rc ${CMAKE_SOURCE_DIR}/resources/ZorbexGUI.rc)
    set(dirs ${CMAKE_SOURCE_DIR})
    while(dirs)
        list(POP_FRONT dirs dir)
        get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
        list(APPEND dirs ${subdirs})
        get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
        foreach(target IN LISTS targets)
            get_target_property(sources ${target} SOURCES)
            if(sources MATCHES "(^|;|/)ZorbexGUI\\.rc(;|$)")
                add_dependencies(${target} zorbex_icons)
                set_property(SOURCE ${rc} TARGET_DIRECTORY ${target} APPEND PROPERTY OBJECT_DEPENDS ${ZORBEX_ICON_STRIPS})
            endif()
        endforeach()
    endwhile()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL zorbex_icons_attach)
