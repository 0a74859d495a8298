# Writes a manual page from a program's --help text and compresses it as
# Debian wants it (gzip -9n: no name, no time stamp).
#
#   cmake -DPROGRAM=path -DNAME=qvkctl -DSUMMARY="one line" -DVERSION=1.8.3
#         -DTAIL=file.roff -DOUTPUT=qvkctl.1 -P manpage.cmake
#
# The help text is read by its shape: a paragraph that opens with an unindented
# line ending in ':' is a section ("Usage:" becomes the synopsis); indented
# lines of the form "  term   description" are items; other paragraphs belong
# to the description. TAIL (roff) is appended as it is.

cmake_policy(VERSION 3.18)

function(roff_escape text out)
    string(REPLACE "\\" "\\e" text "${text}")
    string(REPLACE "-" "\\-" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

function(roff_line text out)
    roff_escape("${text}" text)
    if(text MATCHES "^[.']")
        set(text "\\&${text}")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

execute_process(COMMAND "${PROGRAM}" --help
    OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0 OR help STREQUAL "")
    message(FATAL_ERROR "${PROGRAM} --help failed (${status})")
endif()

# Paragraphs, each a list of lines. CMake lists split at ';' and keep what
# stands in square brackets together, so those three characters stand in for
# themselves until the page is written.
string(ASCII 28 semicolon)
string(ASCII 29 open_bracket)
string(ASCII 31 close_bracket)
string(REPLACE ";" "${semicolon}" help "${help}")
string(REPLACE "[" "${open_bracket}" help "${help}")
string(REPLACE "]" "${close_bracket}" help "${help}")
string(ASCII 30 separator)
string(REGEX REPLACE "\n\n+" "${separator}" help "${help}")
string(REPLACE "${separator}" ";" paragraphs "${help}")

set(synopsis "")
set(description "")
set(sections "")
foreach(paragraph IN LISTS paragraphs)
    string(STRIP "${paragraph}" stripped)
    if(stripped STREQUAL "")
        continue()
    endif()
    string(REPLACE "\n" ";" lines "${paragraph}")
    list(GET lines 0 first)
    set(heading "")
    if(first MATCHES "^[^ ].*:$")
        string(REGEX REPLACE ":$" "" heading "${first}")
        list(REMOVE_AT lines 0)
    endif()

    if(heading STREQUAL "Usage")
        # One entry per line that names the program; deeper lines continue it.
        set(entry "")
        foreach(line IN LISTS lines)
            string(STRIP "${line}" text)
            if(text MATCHES "^${NAME} ")
                if(NOT entry STREQUAL "")
                    roff_escape("${entry}" entry)
                    string(APPEND synopsis ".B ${NAME}\n${entry}\n.br\n")
                endif()
                string(REGEX REPLACE "^${NAME} +" "" entry "${text}")
                string(REGEX REPLACE "  +" " " entry "${entry}")
            else()
                string(REGEX REPLACE " +" " " text "${text}")
                string(APPEND entry " ${text}")
            endif()
        endforeach()
        roff_escape("${entry}" entry)
        string(APPEND synopsis ".B ${NAME}\n${entry}\n")
        continue()
    endif()

    set(body "")
    foreach(line IN LISTS lines)
        if(line STREQUAL "")
            continue()
        endif()
        if(line MATCHES "^  ([^ ].*[^ ])   *([^ ].*)$")
            roff_line("${CMAKE_MATCH_1}" term)
            roff_line("${CMAKE_MATCH_2}" text)
            string(APPEND body ".TP\n.B ${term}\n${text}\n")
        else()
            string(STRIP "${line}" text)
            roff_line("${text}" text)
            string(APPEND body "${text}\n")
        endif()
    endforeach()
    if(heading STREQUAL "")
        string(APPEND description ".PP\n${body}")
    else()
        string(TOUPPER "${heading}" title)
        string(APPEND sections ".SH ${title}\n${body}")
    endif()
endforeach()

# SOURCE_DATE_EPOCH, when set, makes the date reproducible.
string(TIMESTAMP date "%Y-%m-%d" UTC)
roff_escape("${SUMMARY}" summary)
set(page ".TH ${NAME} 1 \"${date}\" \"${NAME} ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\n${NAME} \\- ${summary}\n")
string(APPEND page ".SH SYNOPSIS\n${synopsis}")
string(APPEND page ".SH DESCRIPTION\n${description}")
string(APPEND page "${sections}")
if(TAIL)
    file(READ "${TAIL}" tail)
    string(APPEND page "${tail}")
endif()
string(REPLACE "${semicolon}" ";" page "${page}")
string(REPLACE "${open_bracket}" "[" page "${page}")
string(REPLACE "${close_bracket}" "]" page "${page}")
file(WRITE "${OUTPUT}" "${page}")
execute_process(COMMAND gzip -9nf "${OUTPUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${OUTPUT} failed (${status})")
endif()
