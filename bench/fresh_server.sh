# Sourced by the bench scripts: starts a copy of a server binary on a fresh
# database of its own, in a temporary program folder, on a free loopback
# port, and stops it and removes the folder when the script exits.
#   start_fresh_server path/to/quelvar-server
# Lines in $extra_config (when set) go into section INDICE of Config1.ini.
# Sets: work (the temporary folder), port, db (the database file), server_pid.
#   seed_saves_database  20 groups and 20,000 materials into $db
#   call_sqlite   runs $statement with `sqlite3 -json` on $db into
#                 $work/sqlite.json and prints the seconds it took

work=$(mktemp -d)
server_pid=
cleanup() { [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null; wait 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

start_fresh_server() {
  mkdir -p "$work/prog" "$work/run"
  cp "$1" "$work/prog/quelvar-server"
  db="$work/prog/QuelvarDB.db3"
  # A port found free may be taken by another program before the server
  # binds it: then another one.
  for _ in 1 2 3 4 5; do
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    printf '[INDICE]\nLocalQuelvarDB=%s\nPorta=%s\n%s\n' "$db" "$port" "${extra_config:-}" > "$work/prog/Config1.ini"
    XDG_RUNTIME_DIR="$work/run" "$work/prog/quelvar-server" --headless --create-database >/dev/null 2>"$work/stderr" &
    server_pid=$!
    for _ in $(seq 100); do
      (echo > "/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
      kill -0 "$server_pid" 2>/dev/null || break
      sleep 0.1
    done
    wait "$server_pid" 2>/dev/null || true
  done
  echo "the server did not start: $(cat "$work/stderr")" >&2
  return 1
}

# 20 groups and 20,000 materials in $db (the saves benchmarks' database).
seed_saves_database() {
  sqlite3 "$db" <<'SQL'
.timeout 10000
BEGIN;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20)
INSERT INTO T06_GRUP (T06_NumGrupo, T06_Grupo) SELECT i, 'Grupo ' || i FROM n;
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)
INSERT INTO T04_MATE (T04_NumMaterial, T04_NumGrupo, T04_Material, T04_CustoMedio, T04_EstqMinimo, T04_EstqIdeal,
                      T04_Peso, T04_Unidade, T04_CodBarra, T04_NCM, T04_Obs1, T04_Obs2, T04_Desativado, T04_UsaLote)
  SELECT i, 1 + i % 20, 'Existente ' || printf('%05d', i), 2.5, 10, 50, 0.25, 'UN',
         '789' || printf('%010d', i), '7318.15.00', '', '', 0, 1 FROM n;
COMMIT;
SQL
}

call_sqlite() {
  local start end
  start=$(date +%s%N)
  sqlite3 -json "$db" "$statement" > "$work/sqlite.json"
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}
