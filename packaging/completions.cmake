# Shell completions of the sharelink command for bash, zsh and fish, written
# from the one table below into ${sharelink_completions_dir}. A new option of
# the command needs one line here.
#
#   sharelink_option(NAME [SHORT letter] [VALUES "a b"] [SERVICE] [FILE] [DIRECTORY]
#                    [ARGUMENT name] [ALONE] HELP text)
#     VALUES     the option takes one of these words
#     SERVICE    the option takes the name of a service (sharelink --list-services)
#     FILE       the option takes a file name
#     DIRECTORY  the option takes a folder name
#     ARGUMENT   the option takes free text (nothing is completed)
#     ALONE      the option is used by itself (--help, --version)

set(sharelink_bash_words "")
set(sharelink_bash_cases "")
set(sharelink_bash_free "")
set(sharelink_zsh_specs "")
set(sharelink_fish_lines "")

function(sharelink_option name)
  cmake_parse_arguments(PARSE_ARGV 1 opt "FILE;DIRECTORY;ALONE;SERVICE" "SHORT;VALUES;ARGUMENT;HELP" "")
  string(REGEX REPLACE "^--" "" long "${name}")
  # Help texts go between single quotes in every shell, and between brackets in zsh.
  # (A "]" first in a bracket is one of its characters; a backslash is not an escape there.)
  if(opt_HELP MATCHES "[]['':]")
    message(FATAL_ERROR "completion help of ${name}: no quotes, brackets or colons, please")
  endif()

  set(words "${name}")
  if(opt_SHORT)
    set(words "-${opt_SHORT}|${name}")
    string(APPEND sharelink_bash_words " -${opt_SHORT}")
  endif()
  string(APPEND sharelink_bash_words " ${name}")

  # zsh: "--name=" takes its value in the same word or the next one.
  if(opt_ALONE)
    set(zsh_prefix "'(- *)'")
  else()
    set(zsh_prefix "")
  endif()
  if(opt_SHORT)
    set(zsh_names "{-${opt_SHORT},${name}}")
  else()
    set(zsh_names "${name}")
  endif()
  set(fish "complete -c sharelink")
  if(opt_SHORT)
    string(APPEND fish " -s ${opt_SHORT}")
  endif()
  string(APPEND fish " -l ${long}")

  if(opt_SERVICE)
    # The services known where the shell runs, rule files of the user included.
    set(names "sharelink --list-services 2>/dev/null | cut -f1")
    string(APPEND sharelink_bash_cases
      "    ${name}) mapfile -t COMPREPLY < <(compgen -W \"$(${names})\" -- \"$cur\"); return ;;\n")
    string(APPEND sharelink_zsh_specs
      "  ${zsh_prefix}'${name}=[${opt_HELP}]:${long}:{compadd -- \${(f)\"$(${names})\"}}' \\\n")
    string(APPEND fish " -x -a '(${names})'")
  elseif(DEFINED opt_VALUES)
    string(APPEND sharelink_bash_cases
      "    ${name}) mapfile -t COMPREPLY < <(compgen -W '${opt_VALUES}' -- \"$cur\"); return ;;\n")
    string(APPEND sharelink_zsh_specs
      "  ${zsh_prefix}'${name}=[${opt_HELP}]:${long}:(${opt_VALUES})' \\\n")
    string(APPEND fish " -x -a '${opt_VALUES}'")
  elseif(opt_FILE)
    string(APPEND sharelink_bash_cases
      "    ${name}) compopt -o filenames; mapfile -t COMPREPLY < <(compgen -f -- \"$cur\"); return ;;\n")
    string(APPEND sharelink_zsh_specs "  ${zsh_prefix}'${name}=[${opt_HELP}]:file:_files' \\\n")
    string(APPEND fish " -r -F")
  elseif(opt_DIRECTORY)
    string(APPEND sharelink_bash_cases
      "    ${name}) compopt -o filenames; mapfile -t COMPREPLY < <(compgen -d -- \"$cur\"); return ;;\n")
    string(APPEND sharelink_zsh_specs "  ${zsh_prefix}'${name}=[${opt_HELP}]:folder:_files -/' \\\n")
    string(APPEND fish " -x -a '(__fish_complete_directories (commandline -ct))'")
  elseif(DEFINED opt_ARGUMENT)
    string(APPEND sharelink_bash_free "|${name}")
    string(APPEND sharelink_zsh_specs "  ${zsh_prefix}'${name}=[${opt_HELP}]:${opt_ARGUMENT}: ' \\\n")
    string(APPEND fish " -x")
  else()
    string(APPEND sharelink_zsh_specs "  ${zsh_prefix}${zsh_names}'[${opt_HELP}]' \\\n")
  endif()
  string(APPEND fish " -d '${opt_HELP}'\n")
  string(APPEND sharelink_fish_lines "${fish}")

  foreach(variable sharelink_bash_words sharelink_bash_cases sharelink_bash_free
                   sharelink_zsh_specs sharelink_fish_lines)
    set(${variable} "${${variable}}" PARENT_SCOPE)
  endforeach()
endfunction()

# The options of the command.
sharelink_option(--service SERVICE HELP "The service of every address")
sharelink_option(--rules FILE HELP "Read a service from this rule file as well")
sharelink_option(--list-services HELP "Print the services known")
sharelink_option(--check-rules HELP "Check rule files and run their tests")
sharelink_option(--explain HELP "Tell what each request and reading does, on standard error")
sharelink_option(--json HELP "One JSON object per address and line")
sharelink_option(--aria2 HELP "An aria2 input file of the download addresses")
sharelink_option(--all HELP "Every file of a share page, not only the first")
sharelink_option(--timeout ARGUMENT seconds HELP "Give up connecting, or a stalled transfer, after this long")
sharelink_option(--page FILE HELP "Read a saved share page, or STEP=FILE a step answer, instead of fetching")
sharelink_option(--jobs ARGUMENT number HELP "How many addresses to resolve at once")
sharelink_option(--retries ARGUMENT number HELP "How often a page fetch that failed in passing is tried again")
sharelink_option(--retry-max-wait ARGUMENT seconds HELP "The longest Retry-After waited out")
sharelink_option(--max-per-host ARGUMENT number HELP "At most this many requests at once to one host")
sharelink_option(--quiet HELP "No progress on standard error")
sharelink_option(--no-config HELP "Read no configuration file")
sharelink_option(--proxy ARGUMENT address HELP "Fetch through this proxy (empty for none)")
sharelink_option(--cacert FILE HELP "Trust the certificate authorities in this PEM file")
sharelink_option(--cookies FILE HELP "Send the cookies of this cookies.txt to the site of the share")
sharelink_option(--password ARGUMENT code HELP "The extraction code of the shares")
sharelink_option(--download HELP "Download the files too")
sharelink_option(--output-dir DIRECTORY HELP "The folder downloads are written to")
sharelink_option(--archive FILE HELP "Keep a record of the files saved in this SQLite file")
sharelink_option(--list-archive HELP "Print what the archive holds")
sharelink_option(--check HELP "Compare the files in the output folder with the pages")
sharelink_option(--md5sums HELP "Print the pages MD5s for md5sum -c")
sharelink_option(--aria2-rpc ARGUMENT address HELP "Hand the files to aria2 over JSON-RPC at this address")
sharelink_option(--aria2-secret ARGUMENT token HELP "The secret of aria2 RPC")
sharelink_option(--version ALONE HELP "Print the version and exit")
sharelink_option(--help SHORT h ALONE HELP "Print the help and exit")

string(STRIP "${sharelink_bash_words}" sharelink_bash_words)
string(REGEX REPLACE "^\\|" "" sharelink_bash_free "${sharelink_bash_free}")

file(CONFIGURE OUTPUT ${sharelink_completions_dir}/bash/sharelink @ONLY CONTENT
[=[# bash completion for sharelink                                -*- shell-script -*-

_sharelink()
{
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  # "--option=value": bash splits at the "=".
  if [[ $cur == = ]]; then
    cur=
  elif [[ $prev == = && $COMP_CWORD -ge 2 ]]; then
    prev=${COMP_WORDS[COMP_CWORD-2]}
  fi
  COMPREPLY=()
  case $prev in
@sharelink_bash_cases@    @sharelink_bash_free@) return ;;
  esac
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W '@sharelink_bash_words@' -- "$cur")
  fi
}
complete -F _sharelink sharelink
]=])

file(CONFIGURE OUTPUT ${sharelink_completions_dir}/zsh/_sharelink @ONLY CONTENT
[=[#compdef sharelink
# zsh completion for sharelink

_arguments -s -S \
@sharelink_zsh_specs@  '*:share address: '
]=])

file(CONFIGURE OUTPUT ${sharelink_completions_dir}/fish/sharelink.fish @ONLY CONTENT
[=[# fish completion for sharelink

# The arguments are share addresses, not files.
complete -c sharelink -f
@sharelink_fish_lines@]=])
