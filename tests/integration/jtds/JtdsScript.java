// Runs a script of statements through jTDS (JDBC) and prints what the driver reports: every
// result's column metadata and rows, update counts and errors. One JVM for a whole script.
//
// Script lines (UTF-8, from standard input):
//   case NAME                      echoed, to find a case's output
//   connect URL USER PASSWORD      a new connection (the previous one is closed)
//   autocommit on|off              Connection.setAutoCommit
//   commit | rollback              Connection.commit / rollback
//   sql TEXT                       Statement.execute; "\n" in TEXT is a line break
// Output lines:
//   case NAME / connected / error CODE MESSAGE / count N
//   column NAME|TYPENAME|JDBCTYPE|PRECISION|SCALE|NULLABLE|AUTOINCREMENT|DISPLAYSIZE
//   row V1|V2|...                  values by getString, NULL for a null
//   end                            after the script
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.ResultSet;
import java.sql.ResultSetMetaData;
import java.sql.SQLException;
import java.sql.Statement;

public class JtdsScript {
    private static Connection connection;

    public static void main(String[] args) throws Exception {
        Class.forName("net.sourceforge.jtds.jdbc.Driver");
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
        String line;
        while ((line = in.readLine()) != null) {
            if (line.isEmpty()) continue;
            int space = line.indexOf(' ');
            String word = space < 0 ? line : line.substring(0, space);
            String rest = space < 0 ? "" : line.substring(space + 1);
            try {
                run(word, rest);
            } catch (SQLException e) {
                print("error " + e.getErrorCode() + " " + e.getMessage());
            }
        }
        if (connection != null) connection.close();
        print("end");
    }

    private static void run(String word, String rest) throws SQLException {
        switch (word) {
            case "case":
                print("case " + rest);
                break;
            case "connect": {
                if (connection != null) connection.close();
                connection = null;
                String[] p = rest.split(" ", 3);
                connection = DriverManager.getConnection(p[0], p[1], p[2]);
                print("connected");
                break;
            }
            case "autocommit":
                connection.setAutoCommit(rest.equals("on"));
                break;
            case "commit":
                connection.commit();
                break;
            case "rollback":
                connection.rollback();
                break;
            case "sql":
                execute(rest.replace("\\n", "\r\n"));
                break;
            default:
                print("error 0 unknown script word " + word);
        }
    }

    private static void execute(String sql) throws SQLException {
        try (Statement st = connection.createStatement()) {
            boolean isResult = st.execute(sql);
            while (true) {
                if (isResult) {
                    try (ResultSet rs = st.getResultSet()) {
                        printResult(rs);
                    }
                } else {
                    int count = st.getUpdateCount();
                    if (count < 0) break;
                    print("count " + count);
                }
                isResult = st.getMoreResults();
            }
        }
    }

    private static void printResult(ResultSet rs) throws SQLException {
        ResultSetMetaData md = rs.getMetaData();
        int n = md.getColumnCount();
        for (int c = 1; c <= n; ++c) {
            print("column " + md.getColumnName(c) + "|" + md.getColumnTypeName(c) + "|" + md.getColumnType(c) + "|"
                  + md.getPrecision(c) + "|" + md.getScale(c) + "|" + md.isNullable(c) + "|"
                  + md.isAutoIncrement(c) + "|" + md.getColumnDisplaySize(c));
        }
        while (rs.next()) {
            StringBuilder row = new StringBuilder("row ");
            for (int c = 1; c <= n; ++c) {
                if (c > 1) row.append('|');
                String v = rs.getString(c);
                row.append(v == null ? "NULL" : v);
            }
            print(row.toString());
        }
    }

    private static void print(String s) {
        System.out.println(s.replace("\r", "\\r").replace("\n", "\\n"));
    }
}
