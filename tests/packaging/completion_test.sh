#!/usr/bin/env bash
# completion_test.sh COMPLETION PROGRAM_FOLDER SAMPLE_DVDS
# The bash completion of kestrevane-cli in bash sessions: its function asked
# as readline asks it, for lines without word breaks other than blanks, and
# one real Tab in an interactive bash on a terminal (tmux) for a job name
# with a blank in it.
set -uo pipefail
completion=$1 program_folder=$2 samples=$3

work=$(mktemp -d)
session="kv-completion-$$"
cleanup() {
  tmux kill-session -t "$session" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work/runtime" XDG_CACHE_HOME="$work/cache"
export KESTREVANE_REGISTRY="$work/registry.db" PATH="$program_folder:$PATH"
mkdir -p "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$work/jobs" "$work/discs/pal one" && chmod 700 "$XDG_RUNTIME_DIR"
failures=0 passes=0 noted_options=''

# A job in the queue whose name has a blank.
if ! kestrevane-cli new --name "My film" --dest "$work/jobs" --dvd "$samples/pal_letterbox" \
  >"$work/new.log" 2>&1; then
  cat "$work/new.log"
  echo "0 passed, 1 failed"
  exit 1
fi

source /usr/share/bash-completion/bash_completion
source "$completion"
# compopt works only inside a completion readline started; here it is noted.
compopt() { noted_options+="$* "; }

# The completions of the last word of a line, sorted, one a line.
completions() {
  local line=$1
  COMP_LINE=$line
  COMP_POINT=${#line}
  read -ra COMP_WORDS <<<"$line"
  [[ $line == *' ' ]] && COMP_WORDS+=('')
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  noted_options=''
  _kestrevane_cli
  printf '%s\n' "${COMPREPLY[@]}" | sort
}

check() {  # check LINE EXPECTED (lines joined by blanks)
  local got
  got=$(completions "$1" | paste -sd' ')
  if [[ $got == "$2" ]]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: '$1' completes to '$got', expected '$2'"
  fi
}

check 'kestrevane-cli ' 'add encode list move new remove scan'
check 'kestrevane-cli -' '--help'
check 'kestrevane-cli li' 'list'
check 'kestrevane-cli list --' '--help --json --names'
check 'kestrevane-cli encode --p' '--priority'
check 'kestrevane-cli encode --priority ' 'high idle normal realtime'
check 'kestrevane-cli new --channels s' 'stereo surround'
check 'kestrevane-cli new --ivtc ' 'complex off simple'
check 'kestrevane-cli new --crop ' 'auto none'
check 'kestrevane-cli new --name A --ti' '--title --title-info --titles'
check 'kestrevane-cli new --titles ' 'all'
check 'kestrevane-cli new --name ' ''
check 'kestrevane-cli move 1 ' 'down first last up'
check 'kestrevane-cli move 1 f' 'first'
# Folders, and only folders, for --dvd, --dest, add and scan.
touch "$work/discs/a-file"
check "kestrevane-cli new --dvd $work/discs/" "$work/discs/pal one"
check "kestrevane-cli new --name X --dest $work/j" "$work/jobs"
check "kestrevane-cli scan $work/discs/p" "$work/discs/pal one"
check "kestrevane-cli add $work/jobs/" "$work/jobs/My film"
# Job names from the queue, where a job is asked for (after options too).
check 'kestrevane-cli encode ' 'My film'
completions 'kestrevane-cli encode ' >/dev/null  # not in a subshell: keeps what was noted
[[ $noted_options == *filenames* ]] && passes=$((passes + 1)) ||
  { failures=$((failures + 1)); echo "FAIL: job names are not quoted as file names"; }
check 'kestrevane-cli encode --priority idle M' 'My film'
check 'kestrevane-cli remove ' 'My film'
check 'kestrevane-cli move M' 'My film'
check 'kestrevane-cli remove My\ film ' ''

# A real Tab: readline inserts the job name with its blank escaped.
if tmux new-session -d -s "$session" -x 200 -y 20 \
  "env -i HOME=$work PATH=$PATH XDG_DATA_HOME=$XDG_DATA_HOME XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR KESTREVANE_REGISTRY=$KESTREVANE_REGISTRY TERM=xterm bash --norc --noprofile -i"; then
  tmux send-keys -t "$session" "PS1='ready> '; source /usr/share/bash-completion/bash_completion; source '$completion'; clear" Enter
  tmux send-keys -t "$session" 'kestrevane-cli encode My' Tab
  seen=''
  for _ in $(seq 1 200); do  # waits for the line to change, at most 20 s
    seen=$(tmux capture-pane -p -t "$session")
    [[ $seen == *'encode My\ film'* ]] && break
    sleep 0.1
  done
  # (capture-pane drops the blank after the name at the end of the line)
  if [[ $seen == *'ready> kestrevane-cli encode My\ film'* ]]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL: Tab in an interactive bash gave:"
    echo "$seen"
  fi
else
  failures=$((failures + 1))
  echo "FAIL: tmux could not start a bash session"
fi

echo "$passes passed, $failures failed"
[[ $failures -eq 0 ]]
