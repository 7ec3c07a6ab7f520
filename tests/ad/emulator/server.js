// A scripted LDAP server that answers as Active Directory does where Samba
// does not show it:
//   - an attribute with more than 1,500 values is answered in ranges
//     (member;range=0-1499, then what the client asks for next, the last
//     range ending in *);
//   - a page holds at most 1,000 entries whatever page size is asked for, and
//     a search without paging ends after 1,000 entries with sizeLimitExceeded;
//   - a subtree search from the domain's root also answers continuation
//     references for the DNS and configuration partitions.
//
//   node server.js PORT-FILE
// Listens on a free loopback port, writes it to PORT-FILE once it listens,
// and serves until it is stopped or its parent goes away.
'use strict'

const fs = require('fs')
const ldap = require('ldapjs')
const { PagedResultsControl } = require('@ldapjs/controls')

const DOMAIN = 'DC=example,DC=com'
const BIND_DN = 'CN=Administrator,CN=Users,' + DOMAIN
const BIND_PASSWORD = 'Admin#2024'
const MAX_VALUE_RANGE = 1500
const MAX_PAGE_SIZE = 1000
const BIG_GROUP_MEMBERS = 5000
const REFERENCES = [
  'ldap://ForestDnsZones.example.com/DC=ForestDnsZones,' + DOMAIN,
  'ldap://DomainDnsZones.example.com/DC=DomainDnsZones,' + DOMAIN,
  'ldap://example.com/CN=Configuration,' + DOMAIN
]

// DNs compare ignoring case and blanks around separators.
function norm (dn) {
  return String(dn).split(/(?<!\\),/).map(part => part.trim().replace(/\s*=\s*/, '=').toLowerCase()).join(',')
}

function parentOf (normalised) {
  const cut = normalised.search(/(?<!\\),/)
  return cut < 0 ? '' : normalised.slice(cut + 1)
}

// The directory: entries by normalised DN, in the order they were made.
const entries = new Map()
function add (dn, attributes) {
  const attrs = new Map()
  for (const [name, value] of Object.entries(attributes)) {
    attrs.set(name.toLowerCase(), { name, values: Array.isArray(value) ? value : [value] })
  }
  entries.set(norm(dn), { dn, attrs })
}

function userName (i) {
  return 'User ' + String(i).padStart(4, '0')
}
function userDn (i) {
  return 'CN=' + userName(i) + ',OU=Staff,' + DOMAIN
}

add(DOMAIN, { objectClass: ['top', 'domain', 'domainDNS'], dc: 'example' })
add('CN=Users,' + DOMAIN, { objectClass: ['top', 'container'], cn: 'Users' })
add(BIND_DN, {
  objectClass: ['top', 'person', 'organizationalPerson', 'user'],
  cn: 'Administrator',
  sAMAccountName: 'Administrator'
})
add('OU=Staff,' + DOMAIN, { objectClass: ['top', 'organizationalUnit'], ou: 'Staff' })
add('OU=Groups,' + DOMAIN, { objectClass: ['top', 'organizationalUnit'], ou: 'Groups' })
for (let i = 0; i < BIG_GROUP_MEMBERS; ++i) {
  add(userDn(i), {
    objectClass: ['top', 'person', 'organizationalPerson', 'user'],
    cn: userName(i),
    sAMAccountName: 'user' + String(i).padStart(4, '0'),
    displayName: userName(i),
    mail: 'user' + String(i).padStart(4, '0') + '@example.com'
  })
}
function group (name, members) {
  add('CN=' + name + ',OU=Groups,' + DOMAIN, {
    objectClass: ['top', 'group'],
    cn: name,
    sAMAccountName: name.replace(/ /g, ''),
    member: members
  })
}
const range = (from, to) => Array.from({ length: to - from }, (_, k) => userDn(from + k))
// Everyone: ranges 0-1499, 1500-2999, 3000-4499, 4500-*.
group('Everyone', range(0, BIG_GROUP_MEMBERS))
// The largest group answered whole, and the smallest answered in two ranges.
group('Exactly 1500', range(0, MAX_VALUE_RANGE))
group('One Past 1500', range(BIG_GROUP_MEMBERS - MAX_VALUE_RANGE - 1, BIG_GROUP_MEMBERS))
// A group whose members are a small group and the large one.
group('Small', [userDn(7), userDn(4999)])
group('Nested', ['CN=Small,OU=Groups,' + DOMAIN, 'CN=Everyone,OU=Groups,' + DOMAIN])
// A faulty server: whatever range is asked for, this group answers its first.
group('Stuck', range(0, 2 * MAX_VALUE_RANGE))
entries.get(norm('CN=Stuck,OU=Groups,' + DOMAIN)).stuck = true

const ROOT_DSE = {
  dn: '',
  attrs: new Map([
    ['namingcontexts', { name: 'namingContexts', values: [DOMAIN] }],
    ['defaultnamingcontext', { name: 'defaultNamingContext', values: [DOMAIN] }],
    ['supportedcontrol', { name: 'supportedControl', values: ['1.2.840.113556.1.4.319'] }]
  ])
}

// --- filters

function valuesOf (entry, attribute) {
  const found = entry.attrs.get(attribute.toLowerCase())
  return found ? found.values : []
}

const DN_ATTRIBUTES = new Set(['member', 'distinguishedname'])

function matches (filter, entry) {
  switch (filter.type) {
    case 'AndFilter': return filter.filters.every(f => matches(f, entry))
    case 'OrFilter': return filter.filters.some(f => matches(f, entry))
    case 'NotFilter': return !matches(filter.filter, entry)
    case 'PresenceFilter':
      return filter.attribute.toLowerCase() === 'objectclass' || valuesOf(entry, filter.attribute).length > 0
    case 'EqualityFilter': {
      const attribute = filter.attribute.toLowerCase()
      const wanted = DN_ATTRIBUTES.has(attribute) ? norm(filter.value) : filter.value.toLowerCase()
      return valuesOf(entry, attribute).some(v =>
        (DN_ATTRIBUTES.has(attribute) ? norm(v) : v.toLowerCase()) === wanted)
    }
    case 'SubstringFilter': {
      const parts = [filter.subInitial, ...filter.subAny, filter.subFinal]
      const pattern = parts.map(p => (p || '').replace(/[.*+?^${}()|[\]\\]/g, '\\$&')).join('.*')
      const re = new RegExp('^' + pattern + '$', 'is')
      return valuesOf(entry, filter.attribute).some(v => re.test(v))
    }
    default:
      return false
  }
}

// --- attributes as Active Directory returns them

// The attributes of one entry for the attribute list a request names:
// more than MAX_VALUE_RANGE values come as the first range; a requested
// range is answered with at most MAX_VALUE_RANGE values from its start.
function shape (entry, requested) {
  const out = []
  const all = requested.length === 0 || requested.includes('*')
  const plain = new Set(requested.map(r => r.toLowerCase()))
  if (plain.has('1.1') && requested.length === 1) return out
  const ranged = new Map()
  for (const r of requested) {
    const m = /^([^;]+);range=(\d+)-(\d+|\*)$/i.exec(r)
    if (m) ranged.set(m[1].toLowerCase(), { low: Number(m[2]), high: m[3] === '*' ? Infinity : Number(m[3]) })
  }
  for (const [key, { name, values }] of entry.attrs) {
    const asked = entry.stuck && ranged.has(key) ? { low: 0, high: MAX_VALUE_RANGE - 1 } : ranged.get(key)
    if (asked) {
      if (asked.low > values.length) continue
      const last = Math.min(asked.high, asked.low + MAX_VALUE_RANGE - 1, values.length - 1)
      const end = last >= values.length - 1 ? '*' : String(last)
      out.push({ type: name + ';range=' + asked.low + '-' + end, values: values.slice(asked.low, last + 1) })
    } else if (all || plain.has(key)) {
      if (values.length > MAX_VALUE_RANGE) {
        out.push({ type: name + ';range=0-' + (MAX_VALUE_RANGE - 1), values: values.slice(0, MAX_VALUE_RANGE) })
      } else {
        out.push({ type: name, values })
      }
    }
  }
  return out
}

// --- the server

const server = ldap.createServer()

server.bind('', (req, res, next) => {
  if (norm(req.dn.toString()) === norm(BIND_DN) && req.credentials === BIND_PASSWORD) {
    res.end()
    return next()
  }
  return next(new ldap.InvalidCredentialsError())
})

// Paged searches in progress: cookie -> the entries still to send.
const pending = new Map()
let nextCookie = 1

function send (res, entry, attributes) {
  res.send(res.createSearchEntry({ objectName: entry.dn, attributes: shape(entry, attributes) }), true)
}

server.search('', (req, res, next) => {
  const base = norm(req.dn.toString())
  const scope = ['base', 'one', 'sub'][req.scope]
  const attributes = req.attributes
  if (base === '' && scope === 'base') {
    if (matches(req.filter, ROOT_DSE)) send(res, ROOT_DSE, attributes)
    res.end()
    return next()
  }
  if (!entries.has(base)) return next(new ldap.NoSuchObjectError(req.dn.toString()))

  const control = req.controls.find(c => c.type === PagedResultsControl.OID)
  let found
  if (control && control.value.cookie.length > 0) {
    const cookie = control.value.cookie.toString()
    found = pending.get(cookie)
    pending.delete(cookie)
    if (!found) return next(new ldap.UnwillingToPerformError('unknown paging cookie'))
  } else {
    found = []
    for (const [dn, entry] of entries) {
      const inScope = scope === 'base' ? dn === base
        : scope === 'one' ? parentOf(dn) === base
          : dn === base || dn.endsWith(',' + base)
      if (inScope && matches(req.filter, entry)) found.push(entry)
    }
    if (scope === 'sub' && base === norm(DOMAIN)) {
      res.send(res.createSearchReference(REFERENCES))
    }
  }

  if (!control) {
    for (const entry of found.slice(0, MAX_PAGE_SIZE)) send(res, entry, attributes)
    if (found.length > MAX_PAGE_SIZE) return next(new ldap.SizeLimitExceededError())
    res.end()
    return next()
  }
  const size = Math.min(control.value.size > 0 ? control.value.size : MAX_PAGE_SIZE, MAX_PAGE_SIZE)
  for (const entry of found.slice(0, size)) send(res, entry, attributes)
  let cookie = Buffer.alloc(0)
  if (found.length > size) {
    const key = String(nextCookie++)
    pending.set(key, found.slice(size))
    cookie = Buffer.from(key)
  }
  res.controls = [new PagedResultsControl({ value: { size: 0, cookie } })]
  res.end()
  return next()
})

// A request it cannot parse ends that connection, not the server.
server.on('error', error => process.stderr.write('emulator: ' + error.message + '\n'))

// Every answer goes out at once: an entry and the result after it would
// otherwise wait for the client's delayed acknowledgement.
server.server.on('connection', socket => socket.setNoDelay(true))

server.listen(0, '127.0.0.1', () => {
  fs.writeFileSync(process.argv[2], String(server.address().port) + '\n')
})

// Ends with the process that started it.
const parent = process.ppid
setInterval(() => {
  try {
    process.kill(parent, 0)
  } catch {
    process.exit(0)
  }
}, 1000).unref()
process.on('SIGTERM', () => process.exit(0))
