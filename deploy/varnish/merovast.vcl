# The edge of a release store: Varnish 7.1 in front of the bucket (an object store, Swift here)
# that deploy/push.sh fills. Updaters ask it for
#   /update_go/update.htm   the manifest: passed to the bucket on every request, never cached
#   /o/<xx>/<sha256>        an object of the store: fetched from the bucket once, then cached
# and it answers anything else with a plain 404 (no listings, no other files of the bucket).
#
# The backend and the bucket's path below are the two lines to change: a Swift container
# readable by anyone (X-Container-Read: .r:*) is /v1/AUTH_<account>/<container>; an S3 bucket
# with public reads is /<bucket> on the region's endpoint. Installing on Debian: copy this file to
# /etc/varnish/default.vcl (or point varnishd's -f at it) and `systemctl reload varnish`; add a
# -a listen address for the port the manifest's URL names (8081) in varnishd's command line.
#
# deploy/varnish/render.sh prints it with another backend and path; the tests serve with it.

vcl 4.1;

backend bucket {
    .host = "127.0.0.1";
    .port = "8080";
}

sub vcl_recv {
    # The updater sends neither; a cookie or credentials would only make the builtin rules pass.
    unset req.http.Cookie;
    unset req.http.Authorization;
    if (req.method != "GET" && req.method != "HEAD") {
        return (synth(405));
    }
    # A manifest cached on the way would keep updaters on the old release.
    if (req.url == "/update_go/update.htm") {
        set req.url = "/v1/AUTH_merovast/releases" + req.url;
        return (pass);
    }
    # An object's name is its SHA-256, in the folder of its first two hex digits.
    if (req.url ~ "^/o/([0-9a-f]{2})/\1[0-9a-f]{62}$") {
        set req.url = "/v1/AUTH_merovast/releases" + req.url;
        return (hash);
    }
    return (synth(404));
}

sub vcl_hash {
    # The name says the bytes, whatever host name the store was reached under.
    hash_data(req.url);
    return (lookup);
}

sub vcl_backend_response {
    if (bereq.uncacheable) {
        return (deliver);
    }
    # An object never changes once pushed: keep it whatever headers the bucket sends. An error
    # or a missing object is not kept, so that a push that comes later is seen at once.
    if (beresp.status == 200) {
        set beresp.ttl = 365d;
        set beresp.grace = 0s;
    } else {
        set beresp.ttl = 0s;
        set beresp.uncacheable = true;
    }
    return (deliver);
}

sub vcl_deliver {
    # Which requests reached the bucket, for whoever reads the headers.
    if (obj.hits > 0) {
        set resp.http.X-Cache = "HIT";
    } else {
        set resp.http.X-Cache = "MISS";
    }
}
