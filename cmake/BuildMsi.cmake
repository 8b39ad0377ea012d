# Builds the MSI (cmake -P, called by cmake/Msi.cmake): the same inputs give the same package, byte for byte.
#
#   -DWIXL= -DMSIBUILD= -DWXS= -DDLL= -DSTAGED_DLL= -DOUTPUT= -DVERSION= -DPRODUCT_CODE= -DSUBJECT= -DAUTHOR=
#   [-DEPOCH=seconds]  time stamped on the packaged file and the package (else SOURCE_DATE_EPOCH, else the
#                      time of the last commit, else 1980-01-01)
#
# wixl stamps the package with the time of the build and a random package code, and the cabinet with the
# modification time of the file: the file is staged with the source time, the package code is derived
# from the packaged bytes, and the two time stamps of the summary information are set to the source time.

foreach(var WIXL MSIBUILD WXS DLL STAGED_DLL OUTPUT VERSION PRODUCT_CODE SUBJECT AUTHOR)
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

# wixl looks for the packaged file in its working directory: the staging folder.
get_filename_component(stage_dir ${STAGED_DLL} DIRECTORY)

function(run)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${stage_dir} RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        list(JOIN ARGN " " command)
        message(FATAL_ERROR "failed (${result}): ${command}")
    endif()
endfunction()

file(MAKE_DIRECTORY ${stage_dir})
file(COPY_FILE ${DLL} ${STAGED_DLL})
run(touch -d @${EPOCH} ${STAGED_DLL})

string(TIMESTAMP before "%s" UTC)
run(${WIXL} -D Version=${VERSION} -D ProductCode=${PRODUCT_CODE} -o ${OUTPUT}.tmp ${WXS})
string(TIMESTAMP after "%s" UTC)

# The package code names this exact package: derived from what it installs and how.
file(SHA256 ${STAGED_DLL} dll_hash)
file(SHA256 ${WXS} wxs_hash)
string(UUID package_code NAMESPACE ${PRODUCT_CODE} NAME "${VERSION} ${dll_hash} ${wxs_hash}" TYPE SHA1 UPPER)
execute_process(COMMAND ${MSIBUILD} ${OUTPUT}.tmp -s ${SUBJECT} ${AUTHOR} [[Intel;1033]] "{${package_code}}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "msibuild could not set the package code (${result})")
endif()

# The creation and last-saved times of the summary information: the source time.
run(perl ${CMAKE_CURRENT_LIST_DIR}/../tools/msi/stamp_summary.pl ${OUTPUT}.tmp ${before} ${after} ${EPOCH})

file(RENAME ${OUTPUT}.tmp ${OUTPUT})
