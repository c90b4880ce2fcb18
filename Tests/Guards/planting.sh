# Text replacement shared by the guards runner (plant.sh) and its mutation mode (mutate.sh).

count_of() {  # TEXT FILE: how often the text occurs in the file
  local text=$1 content count=0
  content=$(cat "$2"; printf x)
  while [[ "$content" == *"$text"* ]]; do
    count=$((count + 1))
    content=${content#*"$text"}
  done
  echo "$count"
}

plant() {  # FILE FIND REPLACE: the first (only) occurrence replaced, the file's end kept
  local content
  content=$(cat "$1"; printf x)
  content=${content%x}
  local before=${content%%"$2"*}
  local after=${content#*"$2"}
  printf '%s%s%s' "$before" "$3" "$after" > "$1"
}
