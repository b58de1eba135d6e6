package vantor.str.diskarray.rmi;

import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.PrintStream;
import java.net.InetSocketAddress;
import java.nio.ByteBuffer;
import java.nio.channels.ServerSocketChannel;
import java.nio.channels.SocketChannel;

/**
 * The test application the host runs on a real Java VM. main binds a server on
 * 127.0.0.1 (port: system property fileserver.port), starts its non-daemon
 * thread and returns, as the real application does. A client sends one line of
 * system property names separated by blanks and gets one line of JSON back:
 * {"args": [[code points], ...], "properties": {name: value or null},
 *  "cwd": user.dir, "threads": [names]}.
 *
 * fileserver.main chooses how main behaves: "return" (default), "throw"
 * (after the server started), "block:MS" (sleeps before returning),
 * "exit:CODE:MS" (another thread calls System.exit(CODE) MS after main), or
 * "thread-throws" (first a line on System.err, then a thread of its own dies
 * of an exception, which the VM prints).
 * fileserver.hook, when set, registers a shutdown hook that writes
 * shutdown-hook.txt ("ran\n") in user.dir, then takes "MS" milliseconds or
 * "forever", with a line on System.out as it begins and as it ends.
 * fileserver.burst=BYTES makes main start a thread "burst" that prints lines
 * of exactly 100 bytes, "burst 0 line NNNNNNNN xxx...x\n" (k from 0, 8 digits),
 * 100 lines to a print call, each call flushed, until at least BYTES bytes are
 * written, then says "burst done": the stand-in VM's burst 0, from Java.
 * Lifecycle lines go to System.out, each flushed.
 */
public class FileServer {
  private static final PrintStream out = System.out;

  public static void main(String[] args) throws Exception {
    say("main(" + args.length + " arguments)");
    String[] how = System.getProperty("fileserver.main", "return").split(":");
    int port = Integer.parseInt(System.getProperty("fileserver.port"));
    String hook = System.getProperty("fileserver.hook");
    if (hook != null) {
      Runtime.getRuntime().addShutdownHook(shutdownHook(hook));
    }
    if (how[0].equals("thread-throws")) {
      throwInAThread();
    }
    ServerSocketChannel server = ServerSocketChannel.open();
    server.socket().bind(new InetSocketAddress("127.0.0.1", port));
    Thread thread = new Thread(new Server(server, args.clone()), "fileserver");
    thread.start();
    say("listening on 127.0.0.1:" + port);
    String burst = System.getProperty("fileserver.burst");
    if (burst != null) {
      burst(Long.parseLong(burst));
    }
    if (how[0].equals("throw")) {
      throw new IllegalStateException("main throws, as asked");
    } else if (how[0].equals("block")) {
      say("main blocks for " + how[1] + " ms");
      Thread.sleep(Long.parseLong(how[1]));
    } else if (how[0].equals("exit")) {
      exitLater(Integer.parseInt(how[1]), Long.parseLong(how[2]));
    }
    say("main returns");
  }

  static void say(String line) {
    // "\n", not println's "\r\n": the VM writes to the C runtime's text-mode
    // standard output, which makes each "\n" a "\r\n" itself.
    out.print("FileServer: " + line + "\n");
    out.flush();
  }

  // Before the server's thread starts: Avian's Thread.enumerate loses track of
  // the threads that were started after a thread that has died.
  private static void throwInAThread() throws InterruptedException {
    System.err.print("FileServer: a line on System.err\n");
    System.err.flush();
    Thread thrower = new Thread(new Runnable() {
      public void run() {
        throw new IllegalStateException("a thread throws, as asked");
      }
    }, "thrower");
    thrower.start();
    thrower.join();
  }

  private static void burst(final long bytes) {
    new Thread(new Runnable() {
      public void run() {
        long lines = (bytes + 99) / 100;
        for (long k = 0; k < lines; ) {
          StringBuilder block = new StringBuilder(100 * 100);
          for (int i = 0; i < 100 && k < lines; ++i, ++k) {
            String number = Long.toString(k);
            block.append("burst 0 line ").append("00000000".substring(number.length())).append(number).append(' ');
            while (block.length() % 100 != 99) {
              block.append('x');
            }
            block.append('\n');
          }
          out.print(block.toString());
          out.flush();
        }
        say("burst done");
      }
    }, "burst").start();
  }

  private static void exitLater(final int code, final long delay) {
    new Thread(new Runnable() {
      public void run() {
        try {
          Thread.sleep(delay);
        } catch (InterruptedException e) {
          // exits all the same
        }
        say("System.exit(" + code + ")");
        System.exit(code);
      }
    }, "exit-" + code).start();
  }

  private static Thread shutdownHook(String how) {
    final boolean forever = how.equals("forever");
    final long ms = forever ? 1000 : Long.parseLong(how);
    return new Thread(new Runnable() {
      public void run() {
        say("shutdown hook begins");
        try {
          FileOutputStream file =
              new FileOutputStream(new File(System.getProperty("user.dir"), "shutdown-hook.txt"));
          try {
            file.write("ran\n".getBytes("UTF-8"));
          } finally {
            file.close();
          }
          do {
            Thread.sleep(ms);
          } while (forever);
        } catch (IOException | InterruptedException e) {
          say("shutdown hook failed: " + e);
        }
        say("shutdown hook ends");
      }
    }, "shutdown-hook");
  }

  private static final class Server implements Runnable {
    private final ServerSocketChannel server;
    private final String[] args;

    Server(ServerSocketChannel server, String[] args) {
      this.server = server;
      this.args = args;
    }

    public void run() {
      while (true) {
        try {
          SocketChannel client = server.accept();
          try {
            answer(client);
          } finally {
            client.close();
          }
        } catch (IOException e) {
          say("client failed: " + e);
        }
      }
    }

    private void answer(SocketChannel client) throws IOException {
      String[] names = readLine(client).trim().split(" +");
      StringBuilder json = new StringBuilder("{\"args\": [");
      for (int i = 0; i < args.length; ++i) {
        json.append(i == 0 ? "[" : ", [");
        for (int at = 0; at < args[i].length(); ) {
          int c = args[i].codePointAt(at);
          json.append(at == 0 ? "" : ", ").append(c);
          at += c >= 0x10000 ? 2 : 1;  // Avian's Character has no charCount
        }
        json.append(']');
      }
      json.append("], \"properties\": {");
      for (int i = 0; i < names.length && names[i].length() > 0; ++i) {
        quote(json.append(i == 0 ? "" : ", "), names[i]).append(": ");
        quote(json, System.getProperty(names[i]));
      }
      quote(json.append("}, \"cwd\": "), System.getProperty("user.dir")).append(", \"threads\": [");
      Thread[] threads = new Thread[Thread.activeCount() + 8];
      int count = Thread.enumerate(threads);
      for (int i = 0; i < count; ++i) {
        quote(json.append(i == 0 ? "" : ", "), threads[i].getName());
      }
      json.append("]}\n");
      ByteBuffer reply = ByteBuffer.wrap(json.toString().getBytes("UTF-8"));
      while (reply.hasRemaining()) {
        client.write(reply);
      }
      say("answered a client");
    }

    private static String readLine(SocketChannel client) throws IOException {
      StringBuilder line = new StringBuilder();
      ByteBuffer buffer = ByteBuffer.allocate(1);
      while (true) {
        buffer.clear();
        if (client.read(buffer) <= 0 || buffer.get(0) == '\n') {
          return line.toString();
        }
        line.append((char) buffer.get(0));
      }
    }

    // JSON text in ASCII: everything else as \\uXXXX escapes.
    private static StringBuilder quote(StringBuilder json, String text) {
      if (text == null) {
        return json.append("null");
      }
      json.append('"');
      for (int i = 0; i < text.length(); ++i) {
        char c = text.charAt(i);
        if (c == '"' || c == '\\') {
          json.append('\\').append(c);
        } else if (c >= 0x20 && c < 0x7f) {
          json.append(c);
        } else {
          String hex = Integer.toHexString(c);
          json.append("\\u").append("0000".substring(hex.length())).append(hex);
        }
      }
      return json.append('"');
    }
  }
}
