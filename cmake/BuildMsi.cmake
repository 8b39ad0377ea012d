# Builds the MSI (cmake -P, called by cmake/Msi.cmake): the same inputs give the same package, byte for byte.
#
#   -DWIXL= -DMSIBUILD= -DWXS= -DARCH=x86|x64 -DDLLS=staged=built|... -DSTAGE= -DOUTPUT= -DVERSION=
#   -DPRODUCT_CODE= -DSUBJECT= -DAUTHOR=
#   [-DEPOCH=seconds]  time stamped on the packaged file and the package (else SOURCE_DATE_EPOCH, else the
#                      time of the last commit, else 1980-01-01)
#
# wixl stamps the package with the time of the build and a random package code, and the cabinet with the
# modification time of the file: the file is staged with the source time, the package code is derived
# from the packaged bytes, and the two time stamps of the summary information are set to the source time.

foreach(var WIXL MSIBUILD WXS ARCH DLLS STAGE OUTPUT VERSION PRODUCT_CODE SUBJECT AUTHOR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "BuildMsi.cmake: ${var} is not set")
    endif()
endforeach()

if(NOT DEFINED EPOCH)
    if(DEFINED ENV{SOURCE_DATE_EPOCH})
        set(EPOCH $ENV{SOURCE_DATE_EPOCH})
    else()
        execute_process(COMMAND git -C ${CMAKE_CURRENT_LIST_DIR} log -1 --format=%ct
                        OUTPUT_VARIABLE EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE git_result
                        ERROR_QUIET)
        if(NOT git_result EQUAL 0 OR NOT EPOCH MATCHES "^[0-9]+$")
            set(EPOCH 315532800)
        endif()
    endif()
endif()

# wixl looks for the packaged files relative to its working directory: the staging folder.
set(stage_dir ${STAGE})

function(run)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${stage_dir} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "failed (${result}): ${command}")
    endif()
endfunction()

file(REMOVE_RECURSE ${stage_dir})
set(dll_hashes "")
string(REPLACE "|" ";" dlls "${DLLS}")
foreach(entry IN LISTS dlls)
    string(REGEX MATCH "^([^=]+)=(.+)$" _ "${entry}")
    set(staged ${stage_dir}/${CMAKE_MATCH_1})
    set(built ${CMAKE_MATCH_2})
    if(NOT EXISTS ${built})
        message(FATAL_ERROR "${built} is not built (the x64 package needs the release preset's DLL too)")
    endif()
    get_filename_component(staged_folder ${staged} DIRECTORY)
    file(MAKE_DIRECTORY ${staged_folder})
    file(COPY_FILE ${built} ${staged})
    run(touch -d @${EPOCH} ${staged})
    file(SHA256 ${staged} hash)
    string(APPEND dll_hashes " ${hash}")
endforeach()

if(ARCH STREQUAL "x64")
    set(wixl_arch x64)
    set(template "x64;1033")
else()
    set(wixl_arch x86)
    set(template "Intel;1033")
endif()
string(TIMESTAMP before "%s" UTC)
run(${WIXL} -a ${wixl_arch} -D Version=${VERSION} -D ProductCode=${PRODUCT_CODE} -o ${OUTPUT}.tmp ${WXS})
string(TIMESTAMP after "%s" UTC)

# The package code names this exact package: derived from what it installs and how.
file(SHA256 ${WXS} wxs_hash)
string(UUID package_code NAMESPACE ${PRODUCT_CODE} NAME "${VERSION}${dll_hashes} ${wxs_hash}" TYPE SHA1 UPPER)
execute_process(COMMAND ${MSIBUILD} ${OUTPUT}.tmp -s ${SUBJECT} ${AUTHOR} "${template}" "{${package_code}}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild could not set the package code (${result})")
endif()

# The creation and last-saved times of the summary information: the source time.
run(perl ${CMAKE_CURRENT_LIST_DIR}/../tools/msi/stamp_summary.pl ${OUTPUT}.tmp ${before} ${after} ${EPOCH})

file(RENAME ${OUTPUT}.tmp ${OUTPUT})
